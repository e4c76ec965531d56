// Stand-in for the security descriptors of files and folders (<aclapi.h>
// and the ACL types of <winnt.h>). A descriptor is made from the host's
// mode of the item: the owner is the machine's user; Administrators,
// SYSTEM and the user have full access; the "other" bits become an ACE for
// Everyone (S-1-1-0), as Wine makes them: read and execute, or, with the
// write bit, modify (0x1301ff), or only the making of files and folders in
// a folder with the sticky bit (where others may not delete what is not
// theirs). A SID is its string form, terminated, in place: an ACE's
// SidStart is the first four bytes of it.
#pragma once
#include <windows.h>

typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER;
typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    DWORD Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE;
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define ACCESS_DENIED_OBJECT_ACE_TYPE 0x6
#define ACCESS_DENIED_CALLBACK_ACE_TYPE 0xA
#define ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE 0xC
#define INHERIT_ONLY_ACE 0x8

#define FILE_WRITE_DATA 0x2
#define FILE_DELETE_CHILD 0x40
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define GENERIC_ALL 0x10000000u

typedef enum _SE_OBJECT_TYPE { SE_FILE_OBJECT = 1 } SE_OBJECT_TYPE;
typedef DWORD SECURITY_INFORMATION;
#define OWNER_SECURITY_INFORMATION 0x1
#define GROUP_SECURITY_INFORMATION 0x2
#define DACL_SECURITY_INFORMATION 0x4

#ifdef __cplusplus
extern "C" {
#endif
// The owner and the ACL point into the descriptor, freed with LocalFree.
DWORD GetNamedSecurityInfoA(LPCSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                            PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                            PSECURITY_DESCRIPTOR* descriptor);
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                      PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                      PSECURITY_DESCRIPTOR* descriptor);
BOOL GetAce(PACL acl, DWORD index, LPVOID* ace);
#ifdef __cplusplus
}
#endif
