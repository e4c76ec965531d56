// Finding, reading and answering the program's message boxes on Windows.
#pragma once
#include <windows.h>

#include <set>

#include "harness.h"

namespace zt {
// A box captioned with the program's title that is not in `seen`, or NULL.
HWND FindNewBox(const std::set<HWND>& seen);
Box ReadBox(HWND box);
// Presses the answer's button (Close and Fail close the box); waits until it is gone.
void PressAnswer(HWND box, Answer answer);
}  // namespace zt
