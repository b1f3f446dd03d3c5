// The C runtime's file functions as on Windows: a Windows drive path ("C:/Halden/x.log") names a
// file under the machine's root. Other paths pass unchanged. Call them unqualified.
#pragma once

#include <cstdio>

extern "C" {
FILE* halden_crt_fopen(const char* path, const char* mode);
int halden_crt_rename(const char* from, const char* to);
}

#define fopen halden_crt_fopen
#define rename halden_crt_rename
