// advapi32: the CryptoAPI random provider.
#pragma once

#include "platform/api/windef.h"

typedef ULONG_PTR HCRYPTPROV;

#define PROV_RSA_FULL 1u
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define MS_DEF_PROV_W u"Microsoft Base Cryptographic Provider v1.0"

extern "C" {

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR provider_name,
                                 DWORD provider_type, DWORD flags);
BOOL WINAPI CryptGenRandom(HCRYPTPROV provider, DWORD len, BYTE* buffer);
BOOL WINAPI CryptReleaseContext(HCRYPTPROV provider, DWORD flags);

}  // extern "C"
