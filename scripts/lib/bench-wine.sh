# The uninstall timed under Wine against its peers, cmd /c rd /s /q and a
# silent NSIS program doing RMDir /r (what most installers' uninstallers
# do): the pieces that scripts/bench and bench/compare share. Source it
# after wine.sh. Each tree is made in X:\t; the programs live in X:\m.

BENCH_GEN=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/bench/gen_tree

# bench_wine_start PREFIX_DIR BITS ANSWER_EXE WORK: a prefix for programs of
# that bitness, WORK mapped as X: and made the current folder, answer.exe
# and the NSIS peer (of the same bitness) in X:\m.
bench_wine_start() {
    BENCH_WORK=$4
    wine_env "$1" "$2"
    wine_init
    mkdir -p "$BENCH_WORK/m"
    wine_map x "$BENCH_WORK"
    cp "$3" "$BENCH_WORK/m/answer.exe"
    { [ "$2" = 64 ] && echo "Target amd64-unicode"
      printf '%s\n' 'Name "rmdir"' 'OutFile "rmdir.exe"' 'SilentInstall silent' \
          'RequestExecutionLevel user' 'Section' '  RMDir /r "X:\t"' 'SectionEnd'; } \
        >"$BENCH_WORK/m/rmdir.nsi"
    (cd "$BENCH_WORK/m" && makensis -V1 rmdir.nsi >/dev/null)
    wineserver -p  # keep the server up between runs
    cd "$BENCH_WORK"
}

bench_now() { echo "$EPOCHREALTIME"; }
bench_took() { echo "$1 $2" | awk '{printf "%.6f", $2 - $1}'; }

# bench_tree FILES DIRS PROGRAM: X:\t anew, holding X:\m\PROGRAM.exe as its
# zarnouns.exe, registered as BENCH.
bench_tree() {
    rm -rf -- "$BENCH_WORK/t"
    "$BENCH_GEN" "$BENCH_WORK/t" "$1" "$2" 1
    cp "$BENCH_WORK/m/$3.exe" "$BENCH_WORK/t/zarnouns.exe"
    wine 'X:\t\zarnouns.exe' -r BENCH Demo </dev/null >/dev/null 2>&1
    sync
}

# The tree that a run must have removed: X:\t, unless BENCH_TREE names another.
bench_gone() {
    if [ -e "${BENCH_TREE:-$BENCH_WORK/t}" ]; then echo "the tree was not removed by $1" >&2; exit 1; fi
}

# bench_uninstall PROGRAM: the seconds of X:\m\PROGRAM.exe -d BENCH. The
# answerer stands for the person at the screen: it is started and watching
# before the clock starts, and answers each box as it appears.
bench_uninstall() {
    local answered=$BENCH_WORK/answered answerer w t0 t1
    rm -f "$answered"
    # Neither the answerer nor the run may hang the bench: each has 300 s.
    timeout -k 5 300 "$WINE" 'X:\m\answer.exe' --quick yes ok </dev/null >"$answered" 2>&1 &
    answerer=$!
    for ((w = 0; w < 2000; w++)); do
        if grep -q '^ready' "$answered" 2>/dev/null; then break; fi
        sleep 0.005
    done
    t0=$(bench_now)
    timeout -k 5 300 "$WINE" "X:\\m\\$1.exe" -d BENCH </dev/null >/dev/null 2>&1 ||
        [ $? -lt 124 ] || { echo "$1 -d did not end within 300 s" >&2; exit 1; }
    t1=$(bench_now)
    wait "$answerer"
    if [ "$(grep -c '^+-- pressing' "$answered")" != 2 ]; then
        echo "the boxes were not both answered:" >&2; cat "$answered" >&2; exit 1
    fi
    bench_gone "$1"
    bench_took "$t0" "$t1"
}

# bench_rd and bench_nsis: the seconds of each peer removing X:\t.
bench_rd() {
    local t0 t1
    t0=$(bench_now); wine cmd /c rd /s /q 'X:\t' </dev/null >/dev/null 2>&1; t1=$(bench_now)
    bench_gone rd
    bench_took "$t0" "$t1"
}
bench_nsis() {
    local t0 t1
    t0=$(bench_now); wine 'X:\m\rmdir.exe' </dev/null >/dev/null 2>&1; t1=$(bench_now)
    bench_gone nsis
    bench_took "$t0" "$t1"
}
