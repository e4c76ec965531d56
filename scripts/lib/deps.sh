# Installs what the build and the tests need on Debian, or says what is missing.
need_pkgs() {
    local missing=()
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
    command -v g++ >/dev/null || missing+=(g++)
    command -v clang++ >/dev/null || missing+=(clang)
    [ -d /usr/src/googletest ] || missing+=(googletest)
    command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
    [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
    command -v wine >/dev/null || missing+=(wine wine64)
    dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)
    dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
    command -v makensis >/dev/null || missing+=(nsis)
    command -v zip >/dev/null || missing+=(zip)
    for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" = 0 ]; then
        echo "installing: ${missing[*]}"
        dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "missing packages; as root run:"
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}"
        exit 1
    fi
}
