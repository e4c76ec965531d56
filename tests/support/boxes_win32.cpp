#include "boxes_win32.h"

#include <string.h>

namespace zt {

struct Finder {
    const std::set<HWND>* seen;
    HWND found;
};

static BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
    auto* f = reinterpret_cast<Finder*>(param);
    char cls[64], title[256];
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    if (strcmp(cls, "#32770") == 0 && strcmp(title, ProgramTitle) == 0 && !f->seen->count(hwnd)) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindNewBox(const std::set<HWND>& seen) {
    Finder f{&seen, NULL};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

Box ReadBox(HWND box) {
    Box b;
    static char text[8192];
    GetWindowTextA(box, text, sizeof text);
    b.caption = text;
    text[0] = '\0';
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's static text
    b.text = text;
    const std::pair<int, const char*> order[] = {
        {IDYES, "Yes"}, {IDNO, "No"}, {IDOK, "OK"}, {IDRETRY, "Retry"}, {IDCANCEL, "Cancel"},
        {IDTRYAGAIN, "Try Again"}, {IDCONTINUE, "Continue"}};
    for (const auto& o : order)
        if (GetDlgItem(box, o.first) != NULL) b.buttons += std::string(b.buttons.empty() ? "" : " ") + o.second;
    HWND icon = GetDlgItem(box, 0x0440);  // Wine's icon control, hidden when unused
    b.icon = icon != NULL && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
    return b;
}

void PressAnswer(HWND box, Answer a) {
    int id = a == Yes ? IDYES : a == No ? IDNO : a == Cancel ? IDCANCEL : a == Retry ? IDRETRY
             : a == TryAgain ? IDTRYAGAIN : a == Continue ? IDCONTINUE : IDOK;
    // An answer the box has no button for closes it, as the stand-in does.
    if (a == Close || a == Fail || GetDlgItem(box, id) == NULL)
        PostMessageA(box, WM_CLOSE, 0, 0);
    else
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    for (int i = 0; i < 5000 && IsWindow(box); i++) Sleep(2);
}

}  // namespace zt
