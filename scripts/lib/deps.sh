# Installs what the build and the tests need on Debian, or says what is missing.
#
# Wine's 32-bit part (wine32:i386) is the one package a run can do without:
# where it cannot be installed (an i386 index that failed to download leaves
# apt "held broken packages"), the rest is installed and the Windows tests
# take the 64-bit path that scripts/lib/wine.sh knows from machines that run
# no 32-bit code. Such a failure is remembered in DEPS_STATE and not tried
# again until the package lists change (a file in them written since). Any other package that cannot be
# installed fails the run, named.
DEPS_STATE=${ZARNO_DEPS_STATE:-build/setup}
APT_LISTS=/var/lib/apt/lists

# The packages this machine lacks, one a line; the arguments are further
# packages to ask dpkg about.
deps_missing() {
    command -v cmake >/dev/null || echo cmake
    command -v ninja >/dev/null || echo ninja-build
    command -v g++ >/dev/null || echo g++
    command -v clang++ >/dev/null || echo clang
    [ -d /usr/src/googletest ] || echo googletest
    command -v i686-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-i686
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-x86-64
    [ -x /usr/lib/wine/wine64 ] || echo wine64
    command -v wine >/dev/null || echo wine
    command -v makensis >/dev/null || echo nsis
    command -v zip >/dev/null || echo zip
    command -v osslsigncode >/dev/null || echo osslsigncode
    command -v openssl >/dev/null || echo openssl
    local p
    for p in wine32:i386 libclang-rt-14-dev python3-yaml "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || echo "$p"
    done
}

need_pkgs() {
    local missing
    missing=$(deps_missing "$@" | sort -u | tr '\n' ' ')
    missing=${missing% }
    [ -z "$missing" ] && return 0
    local tried=$DEPS_STATE/wine32-not-installable
    if [ "$missing" = wine32:i386 ] && [ -f "$tried" ] &&
       [ -z "$(find "$APT_LISTS" -maxdepth 1 -cnewer "$tried" -print -quit 2>/dev/null)" ]; then
        echo "wine32:i386 is not installable here ($(cat "$tried")), and the package lists have not changed since; the Windows tests take the 64-bit path"
        return 0
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages; as root run:"
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install $missing"
        [ "$missing" = wine32:i386 ] || exit 1
        echo "going on without wine32:i386: the Windows tests take the 64-bit path"
        return 0
    fi
    echo "installing: $missing"
    local log
    log=$(mktemp)
    dpkg --add-architecture i386
    apt-get update -qq >"$log" 2>&1 ||
        echo "package index could not be updated completely; going on with the lists there are ($(grep -m1 '^[EW]:' "$log"))"
    # shellcheck disable=SC2086  # one package a word
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >"$log" 2>&1; then
        local rest=${missing//wine32:i386/}
        rest=$(echo $rest)
        if [ "$rest" != "$missing" ]; then
            local why
            why=$(grep -m1 '^E:' "$log" || echo "apt-get install failed")
            echo "wine32:i386 cannot be installed here ($why); installing the rest without it"
            # Remembered only where the rest could be installed: then it
            # was wine32:i386 that apt could not resolve.
            if [ -z "$rest" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $rest >"$log" 2>&1; then
                mkdir -p "$DEPS_STATE"
                echo "$why" >"$tried"
            fi
        fi
    fi
    missing=$(deps_missing "$@" | grep -vx 'wine32:i386' | tr '\n' ' ' || true)
    if [ -n "$missing" ]; then
        echo "cannot install: ${missing% }; the run needs it. apt-get said:"
        grep '^E:' "$log" || tail -5 "$log"
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
    if deps_missing | grep -qx 'wine32:i386'; then
        echo "going on without wine32:i386: the Windows tests take the 64-bit path"
    else
        rm -f "$tried"
    fi
}
