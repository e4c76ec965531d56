// The native program's entry, called by the C runtime's start-up (the
// Windows program starts in win32/entry.cpp).
#include "zarnouns.h"

int main(int argc, char** argv) { return AppMain(argc, argv); }
