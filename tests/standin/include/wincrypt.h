// Stand-in for the CryptoAPI's hashing (<wincrypt.h>): SHA-256 only, from
// the one provider that has it.
#pragma once
#include <windows.h>

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTKEY;
typedef unsigned int ALG_ID;
#define PROV_RSA_AES 24
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CALG_SHA_256 0x0000800c
#define HP_HASHVAL 0x0002

#ifdef __cplusplus
extern "C" {
#endif
BOOL CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR name, DWORD type,
                          DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags);
BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH* hash);
BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD size, DWORD flags);
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD what, BYTE* data, DWORD* size, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hash);
#ifdef __cplusplus
}
#endif
