// The display language of the emulated machine, as Windows reports the
// user's: the machine's file "language" holds the identifier in hexadecimal.
#include <windows.h>

#include <stdlib.h>

#include <fstream>
#include <string>

#include "machine.h"

extern "C" LANGID GetUserDefaultUILanguage(void) {
    std::ifstream file(MachinePath("language"));
    std::string line;
    if (!std::getline(file, line)) return 0x0409;
    return (LANGID)strtoul(line.c_str(), nullptr, 16);
}
