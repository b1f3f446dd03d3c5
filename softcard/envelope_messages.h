// The envelope functions' messages, printed to standard output in the GBK code page.
#pragma once

// "plaintext file open failed"
#define MSG_PT_OPEN_FAILED "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc\n"
// "ciphertext file open failed"
#define MSG_CT_OPEN_FAILED "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc\n"
// "write pke failed"
#define MSG_WRITE_PKE_FAILED \
    "\xd0\xb4"               \
    "pke"                    \
    "\xca\xa7\xb0\xdc\n"
// "write csk failed"
#define MSG_WRITE_CSK_FAILED \
    "\xd0\xb4"               \
    "csk"                    \
    "\xca\xa7\xb0\xdc\n"
// "write ctBlock failed"
#define MSG_WRITE_CT_BLOCK_FAILED \
    "\xd0\xb4"                    \
    "ctBlock"                     \
    "\xca\xa7\xb0\xdc\n"
// "plaintext file read failed"
#define MSG_PT_READ_FAILED "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc\n"
// "ciphertext file length incorrect"
#define MSG_CT_LENGTH_WRONG \
    "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb3\xa4\xb6\xc8\xb2\xbb\xd5\xfd\xc8\xb7\n"
// "read pke failed"
#define MSG_READ_PKE_FAILED \
    "\xb6\xc1"              \
    "pke"                   \
    "\xca\xa7\xb0\xdc\n"
// "read csk failed"
#define MSG_READ_CSK_FAILED \
    "\xb6\xc1"              \
    "csk"                   \
    "\xca\xa7\xb0\xdc\n"
// "compare pke failed"
#define MSG_PKE_MISMATCH \
    "\xb1\xc8\xb6\xd4"   \
    "pke"                \
    "\xca\xa7\xb0\xdc\n"
// "ciphertext file read failed[%d]"
#define MSG_CT_READ_FAILED "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc[%d]\n"
// "write ptBlock failed"
#define MSG_WRITE_PT_BLOCK_FAILED \
    "\xd0\xb4"                    \
    "ptBlock"                     \
    "\xca\xa7\xb0\xdc\n"
// "write final ptBlock failed"
#define MSG_WRITE_FINAL_FAILED \
    "\xd0\xb4"                 \
    "final ptBlock"            \
    "\xca\xa7\xb0\xdc\n"
