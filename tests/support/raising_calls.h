// For a test program of its own, on Linux: the platform calls that the products make to open
// files and drives (CreateFileA, the C runtime's fopen), and the reads and writes of the streams
// that fopen gives, raise std::bad_alloc at the n-th call, as the platform's own calls do when they
// cannot allocate. Only calls that come from the program (the products linked into it) raise; the
// platform's calls among its own parts pass. Include this in one source file of the program: it
// defines the program's CreateFileA and halden_crt_fopen, which stand in front of the platform's.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/win32.h"

namespace raising {

namespace detail {
inline thread_local long calls_left = -1;  // calls that pass before the one that raises; -1: none
inline thread_local bool raised = false;

// Counts a call down; true for the one that raises.
inline bool raise_now() {
    if (calls_left < 0 || calls_left-- > 0) return false;
    raised = true;
    return true;
}

// Whether the return address lies in the program, not in the platform or the C runtime.
inline bool from_program(const void* caller) {
    Dl_info info, program;
    return dladdr(caller, &info) &&
           dladdr(reinterpret_cast<const void*>(&from_program), &program) &&
           info.dli_fbase == program.dli_fbase;
}

template <class Function>
Function platform_function(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The stream that the program gets: every read and write goes through to the platform's stream,
// and each counts as a call.
inline ssize_t read(void* stream, char* buffer, size_t size) {
    if (raise_now()) throw std::bad_alloc();
    const size_t got = std::fread(buffer, 1, size, static_cast<FILE*>(stream));
    return got == 0 && std::ferror(static_cast<FILE*>(stream)) ? -1 : static_cast<ssize_t>(got);
}
inline ssize_t write(void* stream, const char* buffer, size_t size) {
    if (raise_now()) throw std::bad_alloc();
    const size_t put = std::fwrite(buffer, 1, size, static_cast<FILE*>(stream));
    return put == 0 && size != 0 ? -1 : static_cast<ssize_t>(put);
}
inline int seek(void* stream, off64_t* position, int whence) {
    if (fseeko(static_cast<FILE*>(stream), *position, whence) != 0) return -1;
    *position = ftello(static_cast<FILE*>(stream));
    return 0;
}
inline int close(void* stream) {
    return std::fclose(static_cast<FILE*>(stream));
}
}  // namespace detail

// The n-th call from now raises (0: the next).
inline void arm(long n) {
    detail::calls_left = n;
    detail::raised = false;
}
// No call raises any more; true when the armed one raised.
inline bool disarm() {
    detail::calls_left = -1;
    return detail::raised;
}

}  // namespace raising

extern "C" HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE template_file) {
    using Function = decltype(&CreateFileA);
    static const Function platform = raising::detail::platform_function<Function>("CreateFileA");
    // Not the card's interface ("\\?\..."), whose open the card link turns into its own result.
    const bool card = name && std::strncmp(name, "\\\\?\\", 4) == 0;
    if (!card && raising::detail::from_program(__builtin_return_address(0)) &&
        raising::detail::raise_now())
        throw std::bad_alloc();
    return platform(name, access, share, security, disposition, flags, template_file);
}

extern "C" FILE* halden_crt_fopen(const char* path, const char* mode) {
    using Function = decltype(&halden_crt_fopen);
    static const Function platform =
        raising::detail::platform_function<Function>("halden_crt_fopen");
    namespace d = raising::detail;
    if (!d::from_program(__builtin_return_address(0))) return platform(path, mode);
    if (d::raise_now()) throw std::bad_alloc();
    FILE* stream = platform(path, mode);
    if (!stream) return nullptr;
    std::setvbuf(stream, nullptr, _IONBF, 0);
    FILE* counted = fopencookie(stream, mode, {d::read, d::write, d::seek, d::close});
    if (!counted) std::fclose(stream);
    return counted;
}
