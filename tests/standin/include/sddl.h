// Stand-in for security descriptors in their string form (see windows.h).
// The stand-in takes the one descriptor a folder is made with: a protected
// list that admits only Administrators and SYSTEM, which becomes mode 0700.
#pragma once
#include <windows.h>

#define SDDL_REVISION_1 1

#ifdef __cplusplus
extern "C" {
#endif
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          DWORD* size);
// A copy of the SID's string form, to be freed with LocalFree.
BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text);
#ifdef __cplusplus
}
#endif
