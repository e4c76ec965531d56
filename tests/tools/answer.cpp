// answer.exe [--quick] ANSWER...: answers the program's next message boxes in
// order (yes, no, cancel, ok, close), printing each box's text as a person
// sees it. Used by the demo and the pictures, where Wine's own Add/Remove
// Programs client runs the uninstall, and by the benchmark.
// Without --quick it waits half a second before each answer, as a person
// would. With --quick it answers as soon as a box appears, and prints "ready"
// once it is watching, so that a benchmark can start the timed program after
// this tool's own start-up.
#include <stdio.h>
#include <string.h>

#include "boxes_win32.h"

using namespace zt;

int main(int argc, char** argv) {
    std::set<HWND> seen;
    int first = 1;
    bool quick = argc > 1 && !strcmp(argv[1], "--quick");
    if (quick) {
        first = 2;
        printf("ready\n");
        fflush(stdout);
    }
    const DWORD poll = quick ? 1 : 50;
    for (int i = first; i < argc; i++) {
        HWND box = NULL;
        DWORD start = GetTickCount();
        while ((box = FindNewBox(seen)) == NULL && GetTickCount() - start < 30000) Sleep(poll);
        if (box == NULL) {
            printf("no box appeared\n");
            return 1;
        }
        seen.insert(box);
        if (!quick) Sleep(500);  // as a person would
        while (quick && IsWindow(box) && !IsWindowVisible(box)) Sleep(poll);  // fully built
        Box b = ReadBox(box);
        printf("+-- %s [%s]\n%s\n+-- pressing %s\n", b.caption.c_str(), b.buttons.c_str(),
               b.text.c_str(), argv[i]);
        fflush(stdout);
        const char* a = argv[i];
        PressAnswer(box, !strcmp(a, "yes") ? Yes : !strcmp(a, "no") ? No : !strcmp(a, "cancel") ? Cancel
                         : !strcmp(a, "close") ? Close : Ok);
    }
    return 0;
}
