// TrimSpaces against a plain reference: only ASCII white space goes, and only
// at the ends.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "zarnouns.h"

static bool Space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char buffer[TextSize];
    size_t n = size < TextSize - 1 ? size : TextSize - 1;
    memcpy(buffer, data, n);
    buffer[n] = '\0';

    std::string expected(buffer);
    size_t end = expected.size();
    while (end > 0 && Space((unsigned char)expected[end - 1])) end--;
    size_t start = 0;
    while (start < end && Space((unsigned char)expected[start])) start++;
    expected = expected.substr(start, end - start);

    TrimSpaces(buffer);
    if (expected != buffer) abort();
    return 0;
}
