// Security of the emulated machine: the process's account, the security
// descriptors of files and folders (see <aclapi.h>), the CryptoAPI's
// SHA-256, and the process mitigations asked for.
#include <aclapi.h>
#include <errno.h>
#include <fcntl.h>
#include <sddl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "machine.h"

namespace {

const char User[] = "S-1-5-21-1000-2000-3000-1001";
const char System[] = "S-1-5-18";

bool RunsAsSystem() { return access(MachinePath("system").c_str(), F_OK) == 0; }

// A descriptor: the owner's SID, then the ACL with its ACEs, in one block
// that LocalFree frees.
void* MakeDescriptor(const struct stat& st, PSID* owner, PACL* dacl) {
    std::vector<std::pair<std::string, DWORD>> aces = {
        {"S-1-5-32-544", 0x1f01ff}, {System, 0x1f01ff}, {User, 0x1f01ff}};
    bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
    if (st.st_mode & S_IWOTH)
        aces.push_back({"S-1-1-0", sticky ? 0x1200af : 0x1301ff});
    else if (st.st_mode & S_IROTH)
        aces.push_back({"S-1-1-0", 0x1200a9});
    size_t aclSize = sizeof(ACL);
    for (const auto& ace : aces) aclSize += (offsetof(ACCESS_ALLOWED_ACE, SidStart) + ace.first.size() + 4) & ~(size_t)3;
    size_t ownerSize = (sizeof User + 3) & ~(size_t)3;
    char* block = static_cast<char*>(calloc(1, ownerSize + aclSize));
    if (!block) return NULL;
    memcpy(block, User, sizeof User);
    ACL* acl = reinterpret_cast<ACL*>(block + ownerSize);
    acl->AclRevision = 2;
    acl->AclSize = (WORD)aclSize;
    acl->AceCount = (WORD)aces.size();
    char* at = reinterpret_cast<char*>(acl + 1);
    for (const auto& [sid, mask] : aces) {
        ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(at);
        ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
        ace->Header.AceSize = (WORD)((offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid.size() + 4) & ~(size_t)3);
        ace->Mask = mask;
        memcpy(&ace->SidStart, sid.c_str(), sid.size() + 1);
        at += ace->Header.AceSize;
    }
    if (owner) *owner = block;
    if (dacl) *dacl = acl;
    return block;
}

DWORD Describe(int statResult, const struct stat& st, PSID* owner, PSID* group, PACL* dacl,
               PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (statResult != 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                                     : ERROR_ACCESS_DENIED;
    if (group) *group = NULL;
    if (sacl) *sacl = NULL;
    *descriptor = MakeDescriptor(st, owner, dacl);
    return *descriptor ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// ---- SHA-256 (FIPS 180-4) ----

struct Sha256 {
    uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block[64];
    size_t used = 0;
    uint64_t bits = 0;
    bool done = false;
};

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotate(uint32_t x, int n) { return x >> n | x << (32 - n); }

void Compress(Sha256* h) {
    uint32_t w[64], v[8];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)h->block[4 * i] << 24 | h->block[4 * i + 1] << 16 | h->block[4 * i + 2] << 8 |
               h->block[4 * i + 3];
    for (int i = 16; i < 64; i++) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ w[i - 15] >> 3;
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    memcpy(v, h->state, sizeof v);
    for (int i = 0; i < 64; i++) {
        uint32_t s1 = Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25);
        uint32_t t1 = v[7] + s1 + ((v[4] & v[5]) ^ (~v[4] & v[6])) + K[i] + w[i];
        uint32_t s0 = Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22);
        uint32_t t2 = s0 + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; i++) h->state[i] += v[i];
}

void Add(Sha256* h, const unsigned char* data, size_t size) {
    h->bits += (uint64_t)size * 8;
    for (size_t i = 0; i < size; i++) {
        h->block[h->used++] = data[i];
        if (h->used == 64) {
            Compress(h);
            h->used = 0;
        }
    }
}

void Finish(Sha256* h) {
    uint64_t bits = h->bits;
    unsigned char pad = 0x80;
    Add(h, &pad, 1);
    pad = 0;
    while (h->used != 56) Add(h, &pad, 1);
    for (int i = 7; i >= 0; i--) {
        unsigned char b = (unsigned char)(bits >> (8 * i));
        Add(h, &b, 1);
    }
    h->done = true;
}

const HCRYPTPROV Provider = 0x5000;

}  // namespace

BOOL StandInTokenUser(LPVOID data, DWORD size, LPDWORD needed) {
    static const char* const Accounts[] = {User, System};
    DWORD need = sizeof(TOKEN_USER);
    if (needed) *needed = need;
    if (!data || size < need) {
        errno = ERANGE;
        return FALSE;
    }
    static_cast<TOKEN_USER*>(data)->User.Sid = (PSID)Accounts[RunsAsSystem() ? 1 : 0];
    static_cast<TOKEN_USER*>(data)->User.Attributes = 0;
    return TRUE;
}

BOOL StandInSetProcessMitigationPolicy(int policy, void* data, size_t size) {
    DWORD flags = 0;
    if (data && size >= sizeof flags) memcpy(&flags, data, sizeof flags);
    FILE* log = fopen(MachinePath("mitigations").c_str(), "a");
    if (log) {
        fprintf(log, "%d %u\n", policy, (unsigned)flags);
        fclose(log);
    }
    return TRUE;
}

extern "C" {

BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) {
    if (!sid || !text || strncmp(static_cast<const char*>(sid), "S-1-", 4) != 0) {
        errno = EINVAL;
        return FALSE;
    }
    *text = strdup(static_cast<const char*>(sid));
    return *text != NULL;
}

DWORD GetNamedSecurityInfoA(LPCSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID* owner,
                            PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (!path || type != SE_FILE_OBJECT || !descriptor) return ERROR_INVALID_PARAMETER;
    struct stat st;
    return Describe(stat(path, &st), st, owner, group, dacl, sacl, descriptor);
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID* owner,
                      PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    int fd = StandInFileDescriptor(handle);
    if (fd < 0 || type != SE_FILE_OBJECT || !descriptor) return ERROR_INVALID_HANDLE;
    struct stat st;
    return Describe(fstat(fd, &st), st, owner, group, dacl, sacl, descriptor);
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace) {
    if (!acl || !ace || index >= acl->AceCount) {
        errno = EINVAL;
        return FALSE;
    }
    char* at = reinterpret_cast<char*>(acl + 1);
    for (DWORD i = 0; i < index; i++) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    *ace = at;
    return TRUE;
}

BOOL CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR name, DWORD type,
                          DWORD flags) {
    if (!provider || container || name || type != PROV_RSA_AES || flags != CRYPT_VERIFYCONTEXT) {
        errno = EINVAL;
        return FALSE;
    }
    *provider = Provider;
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD) { return provider == Provider; }

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH* hash) {
    if (provider != Provider || algorithm != CALG_SHA_256 || key || flags || !hash) {
        errno = EINVAL;
        return FALSE;
    }
    *hash = (HCRYPTHASH) new Sha256;
    return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD size, DWORD) {
    Sha256* h = reinterpret_cast<Sha256*>(hash);
    if (!h || h->done || (!data && size)) {
        errno = EINVAL;
        return FALSE;
    }
    Add(h, data, size);
    return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD what, BYTE* data, DWORD* size, DWORD) {
    Sha256* h = reinterpret_cast<Sha256*>(hash);
    if (!h || what != HP_HASHVAL || !size) {
        errno = EINVAL;
        return FALSE;
    }
    if (!data || *size < 32) {
        *size = 32;
        errno = data ? ERANGE : 0;
        return !data;
    }
    if (!h->done) Finish(h);
    for (int i = 0; i < 32; i++) data[i] = (BYTE)(h->state[i / 4] >> (24 - 8 * (i % 4)));
    *size = 32;
    return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
    delete reinterpret_cast<Sha256*>(hash);
    return hash != 0;
}

}  // extern "C"
