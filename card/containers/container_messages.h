// The container functions' log messages in the GBK code page, with their meaning.
#pragma once

// "plaintext file open failed"
#define MSG_PT_OPEN_FAILED "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc"
// "ciphertext file open failed"
#define MSG_CT_OPEN_FAILED "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc"
// "plaintext file read failed"
#define MSG_PT_READ_FAILED "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc"
// "ciphertext file length incorrect"
#define MSG_CT_LENGTH_WRONG \
    "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb3\xa4\xb6\xc8\xb2\xbb\xd5\xfd\xc8\xb7"
// "ciphertext file read failed[%d]"
#define MSG_CT_READ_FAILED                                             \
    "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc" \
    "[%d]"
// "read fn failed", "read pke failed", "read csk failed", "read salt failed", "read mac failed"
#define MSG_READ_FN_FAILED \
    "\xb6\xc1"             \
    "fn"                   \
    "\xca\xa7\xb0\xdc"
#define MSG_READ_PKE_FAILED \
    "\xb6\xc1"              \
    "pke"                   \
    "\xca\xa7\xb0\xdc"
#define MSG_READ_CSK_FAILED \
    "\xb6\xc1"              \
    "csk"                   \
    "\xca\xa7\xb0\xdc"
#define MSG_READ_SALT_FAILED \
    "\xb6\xc1"               \
    "salt"                   \
    "\xca\xa7\xb0\xdc"
#define MSG_READ_MAC_FAILED \
    "\xb6\xc1"              \
    "mac"                   \
    "\xca\xa7\xb0\xdc"
// "write ptBlock failed", "write final ptBlock failed"
#define MSG_WRITE_PT_BLOCK_FAILED \
    "\xd0\xb4"                    \
    "ptBlock"                     \
    "\xca\xa7\xb0\xdc"
#define MSG_WRITE_FINAL_FAILED \
    "\xd0\xb4"                 \
    "final ptBlock"            \
    "\xca\xa7\xb0\xdc"
// "PIN wrong"
#define MSG_PIN_WRONG \
    "PIN"             \
    "\xb4\xed\xce\xf3"
