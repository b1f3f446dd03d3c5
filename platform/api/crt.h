// The C runtime's file functions as on Windows: a Windows drive path ("C:/Halden/x.log") names a
// file under the machine's root. Other paths pass unchanged. Call them unqualified.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>

extern "C" {
FILE* halden_crt_fopen(const char* path, const char* mode);
int halden_crt_rename(const char* from, const char* to);
}

#define fopen halden_crt_fopen
#define rename halden_crt_rename

// 64-bit file positions (fseek and ftell take a long, which Windows keeps at 32 bits).
inline int _fseeki64(FILE* file, int64_t offset, int origin) {
    return fseeko(file, offset, origin);
}
inline int64_t _ftelli64(FILE* file) {
    return ftello(file);
}

// Windows' argument order: the result first. 0 or an errno value.
inline int localtime_s(struct tm* result, const time_t* when) {
    return localtime_r(when, result) ? 0 : EINVAL;
}
