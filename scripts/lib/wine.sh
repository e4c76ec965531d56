# Wine prefix handling shared by the test runner and the demo. Source it.
# A prefix lives inside the build tree, with HOME pointed at a throwaway
# directory before it is made (Wine links Desktop and friends to HOME), the
# null graphics driver (message boxes are real windows without a display),
# and no z: drive (the whole host file system) once it is set up.

wine_env() {  # DIR: where the prefix and its home live
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
