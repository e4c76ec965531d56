# Wine prefix handling shared by the test runner and the demo. Source it.
# A prefix lives inside the build tree, with HOME pointed at a throwaway
# directory before it is made (Wine links Desktop and friends to HOME), the
# null graphics driver (message boxes are real windows without a display),
# and no z: drive (the whole host file system) once it is set up.

# How Wine is started on this machine: every script and test starts Wine
# through wine, wineboot and wineserver below, never the commands of the
# same names. Debian's commands always start the 32-bit loader when it is
# installed, and where the kernel runs no 32-bit code that fails for every
# program, 64-bit ones too. So 64-bit programs are always started by the
# 64-bit loader (which needs no 32-bit code, and gives them the same
# start-up on every machine), and 32-bit ones by the usual commands, where a
# short probe of the 32-bit loader says that it runs.
WINE_LOADER64=/usr/lib/wine/wine64
WINE_LOADER32=/usr/lib/wine/wine

# wine_can_run BITS: 0 when this machine can run Windows programs of that
# bitness under Wine; otherwise 1, with the reason in WINE_WHY.
wine_can_run() {
    WINE_WHY=
    if [ "$1" = 64 ]; then
        [ -x "$WINE_LOADER64" ] && return 0
        WINE_WHY="Wine's 64-bit loader is not installed (package wine64)"
        return 1
    fi
    local out
    if [ ! -x "$WINE_LOADER32" ]; then
        WINE_WHY="Wine's 32-bit loader is not installed (package wine32:i386)"
    elif ! out=$("$WINE_LOADER32" --version 2>&1); then
        case "$out" in
        *[Ee]xec\ format\ error*)
            WINE_WHY="this machine cannot run 32-bit programs (exec format error)" ;;
        *) WINE_WHY="Wine's 32-bit loader does not start: $(echo "$out" | head -1)" ;;
        esac
    fi
    [ -z "$WINE_WHY" ]
}

# wine_use BITS: what wine, wineboot and wineserver start from now on, for
# programs of that bitness (and Wine's own tools in their prefix). Fails,
# saying why, where this machine cannot run them.
wine_use() {
    if ! wine_can_run "$1"; then
        echo "cannot run $1-bit Windows programs here: $WINE_WHY" >&2
        return 1
    fi
    if [ "$1" = 64 ]; then
        export WINELOADER=$WINE_LOADER64
        WINE=$WINE_LOADER64
    else
        unset WINELOADER
        WINE=$(type -P wine)
    fi
}
wine() { "$WINE" "$@"; }
wineboot() { "$WINE" wineboot "$@"; }
wineserver() { /usr/lib/wine/wineserver "$@"; }

# The bitness of a Windows program: 32 or 64, from its PE header.
exe_bits() {
    local pe
    pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    case "$(od -An -tx2 -j$((pe + 24)) -N2 "$1" | tr -d ' ')" in
    020b) echo 64 ;;
    *) echo 32 ;;
    esac
}

wine_env() {  # DIR [BITS]: where the prefix and its home live; the bitness
    # of the programs to run (default 32)
    wine_use "${2:-32}" || return 1
    export WINEPREFIX="$1/prefix" HOME="$1/home" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    mkdir -p "$HOME"
}

wine_init() {  # after wine_env
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.ready"
    fi
    rm -f "$WINEPREFIX/dosdevices/z:"
    wine_real_profile_folders
}

# A fresh prefix links Desktop, Documents, Downloads, Music, Pictures and
# Videos to HOME; on Windows they are folders of the profile. Made real, they
# are what the program meets there, and nothing can reach HOME through them.
wine_real_profile_folders() {
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
        [ -L "$link" ] || continue
        rm -f "$link"
        mkdir -p "$link"
    done
}

wine_map() {  # LETTER DIR: map a drive letter to a directory
    rm -f "$WINEPREFIX/dosdevices/$1:"
    ln -s "$2" "$WINEPREFIX/dosdevices/$1:"
}

wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
}

# The Windows build that a demonstration or a measurement runs: the 32-bit
# one where this machine runs it, else the 64-bit one (ZARNO_WINDOWS, such as
# "win64", narrows the choice). Sets WINDOWS_BUILD and WINDOWS_BITS, and in
# WINDOWS_PASSED what was passed over and why.
wine_pick_build() {
    local build
    WINDOWS_BUILD= WINDOWS_PASSED=
    for build in ${ZARNO_WINDOWS:-win32 win64}; do
        if wine_can_run "${build#win}"; then
            WINDOWS_BUILD=$build WINDOWS_BITS=${build#win}
            return 0
        fi
        WINDOWS_PASSED="${WINDOWS_PASSED:+$WINDOWS_PASSED; }$build: $WINE_WHY"
    done
    echo "no Windows build can run here: $WINDOWS_PASSED" >&2
    return 1
}
