// answer.exe ANSWER...: answers the program's next message boxes in order
// (yes, no, cancel, ok, close), printing each box's text as a person sees it.
// Used by the demo, where Wine's own Add/Remove Programs client runs the
// uninstall.
#include <stdio.h>
#include <string.h>

#include "boxes_win32.h"

using namespace zt;

int main(int argc, char** argv) {
    std::set<HWND> seen;
    for (int i = 1; i < argc; i++) {
        HWND box = NULL;
        for (int t = 0; t < 600 && box == NULL; t++) {
            box = FindNewBox(seen);
            if (box == NULL) Sleep(50);
        }
        if (box == NULL) {
            printf("no box appeared\n");
            return 1;
        }
        seen.insert(box);
        Sleep(500);  // as a person would
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
