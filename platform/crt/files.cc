// The C runtime's fopen and rename as the Windows C runtime provides them: a stream is a handle
// of the NT file services opened with FILE_SHARE_READ | FILE_SHARE_WRITE, in text mode unless
// 'b' is given (a written "\n" is stored as "\r\n"; on reading, "\r\n" becomes "\n" and Ctrl-Z
// ends the file). The streams themselves are the host's, over a cookie that owns the file.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/kernel32/names.h"
#include "platform/ntoskrnl/fs/file.h"
#include "platform/ntoskrnl/rtl/status_error.h"
#include "platform/unix/unix_name.h"
#include "platform/win32.h"

using ntoskrnl::nt_status_to_error;

#undef fopen
#undef rename

namespace platform {

using namespace ntoskrnl::fs;
namespace {

constexpr char kCtrlZ = 0x1A;

struct Stream {
    std::shared_ptr<File> file;
    bool append = false;
    bool text = true;
    bool ended = false;  // a Ctrl-Z was met in text mode
};

// The Windows C runtime's errno for a Win32 error.
int errno_from_error(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
            return ENOMEM;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_IO_DEVICE:
            return EIO;
        default:
            return EINVAL;
    }
}

int errno_from_status(NTSTATUS status) {
    return errno_from_error(nt_status_to_error(status));
}

ssize_t read_binary(Stream* s, char* buffer, size_t size) {
    uint32_t done = 0;
    const NTSTATUS status = s->file->read(buffer, static_cast<uint32_t>(size), nullptr, &done);
    if (status == STATUS_END_OF_FILE) return 0;
    if (status != STATUS_SUCCESS) {
        errno = errno_from_status(status);
        return -1;
    }
    return done;
}

ssize_t read_text(Stream* s, char* buffer, size_t size) {
    if (s->ended) return 0;
    const ssize_t got = read_binary(s, buffer, size);
    if (got <= 0) return got;
    size_t out = 0;
    for (size_t i = 0; i < static_cast<size_t>(got); ++i) {
        const char c = buffer[i];
        if (c == kCtrlZ) {
            s->ended = true;
            s->file->set_position(s->file->position() - (got - i));
            break;
        }
        if (c == '\r') {
            char next;
            if (i + 1 < static_cast<size_t>(got)) {
                next = buffer[i + 1];
            } else if (read_binary(s, &next, 1) == 1) {
                s->file->set_position(s->file->position() - 1);  // looked at, not taken
            } else {
                next = 0;
            }
            if (next == '\n') continue;  // the '\n' stands for both
        }
        buffer[out++] = c;
    }
    return static_cast<ssize_t>(out);
}

ssize_t stream_read(void* cookie, char* buffer, size_t size) {
    auto* s = static_cast<Stream*>(cookie);
    return s->text ? read_text(s, buffer, size) : read_binary(s, buffer, size);
}

// Writes bytes; returns how many of the caller's bytes were taken (translated ones count as the
// one the caller gave).
ssize_t stream_write(void* cookie, const char* buffer, size_t size) {
    auto* s = static_cast<Stream*>(cookie);
    std::vector<char> translated;
    const char* data = buffer;
    size_t length = size;
    if (s->text) {
        translated.reserve(size + size / 8);
        for (size_t i = 0; i < size; ++i) {
            if (buffer[i] == '\n') translated.push_back('\r');
            translated.push_back(buffer[i]);
        }
        data = translated.data();
        length = translated.size();
    }
    const uint64_t at_end = kWriteAtEnd;
    uint32_t done = 0;
    const NTSTATUS status =
        s->file->write(data, static_cast<uint32_t>(length), s->append ? &at_end : nullptr, &done);
    size_t taken = done;
    if (s->text) {
        taken = 0;
        for (size_t put = 0; taken < size && put < done; ++taken)
            put += buffer[taken] == '\n' ? 2 : 1;
    }
    // A cookie write reports a failure by writing nothing: 0 with errno set (a negative count
    // would be taken as the whole buffer written).
    if (status != STATUS_SUCCESS && taken == 0) {
        errno = errno_from_status(status);
        return 0;
    }
    return static_cast<ssize_t>(taken);
}

int stream_seek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<Stream*>(cookie);
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<int64_t>(s->file->position());
    } else if (whence == SEEK_END) {
        unix_file::Status status;
        if (NTSTATUS result = s->file->query(&status); result != STATUS_SUCCESS) {
            errno = errno_from_status(result);
            return -1;
        }
        base = static_cast<int64_t>(status.size);
    }
    int64_t position = 0;
    if (__builtin_add_overflow(base, static_cast<int64_t>(*offset), &position) || position < 0) {
        errno = EINVAL;
        return -1;
    }
    s->file->set_position(static_cast<uint64_t>(position));
    s->ended = false;
    *offset = position;
    return 0;
}

int stream_close(void* cookie) {
    delete static_cast<Stream*>(cookie);
    return 0;
}

struct Mode {
    DWORD access;
    DWORD disposition;
    bool append;
    bool text;
    const char* host_mode;
};

bool parse_mode(const char* text, Mode* mode) {
    const bool update = std::strchr(text, '+') != nullptr;
    switch (text[0]) {
        case 'r':
            *mode = {GENERIC_READ, OPEN_EXISTING, false, true, "r"};
            break;
        case 'w':
            *mode = {GENERIC_WRITE, CREATE_ALWAYS, false, true, "w"};
            break;
        case 'a':
            *mode = {GENERIC_WRITE, OPEN_ALWAYS, true, true, "w"};
            break;
        default:
            return false;
    }
    if (update) {
        mode->access = GENERIC_READ | GENERIC_WRITE;
        mode->host_mode = "r+";
    }
    mode->text = std::strchr(text, 'b') == nullptr;
    return true;
}

}  // namespace
}  // namespace platform

using namespace platform;

extern "C" FILE* halden_crt_fopen(const char* path, const char* mode_text) {
    TRACE("crt", "fopen(\"%s\", \"%s\")", path ? path : "(null)", mode_text ? mode_text : "(null)");
    Mode mode;
    if (!path || !mode_text || !parse_mode(mode_text, &mode)) {
        errno = EINVAL;
        return nullptr;
    }
    NtName nt;
    if (!win32_name_to_nt(path, &nt)) {
        errno = errno_from_error(GetLastError());
        return nullptr;
    }
    if (!nt_name_is_file(nt.path)) {
        errno = ENOENT;
        return nullptr;
    }
    FileOpenRequest request;
    request.access = map_generic_file_access(mode.access);
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    request.disposition = nt_disposition(mode.disposition);
    auto stream = std::make_unique<Stream>();
    uint32_t information = 0;
    if (NTSTATUS status = nt_open_file(nt.path, request, &stream->file, &information);
        status != STATUS_SUCCESS) {
        errno = errno_from_status(status);
        return nullptr;
    }
    stream->append = mode.append;
    stream->text = mode.text;
    FILE* file = fopencookie(stream.get(), mode.host_mode,
                             {stream_read, stream_write, stream_seek, stream_close});
    if (file) stream.release();
    return file;
}

extern "C" int halden_crt_rename(const char* from, const char* to) {
    TRACE("crt", "rename(\"%s\", \"%s\")", from ? from : "(null)", to ? to : "(null)");
    NtName old_name, new_name;
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!win32_name_to_nt(from, &old_name) || !win32_name_to_nt(to, &new_name)) {
        errno = errno_from_error(GetLastError());
        return -1;
    }
    // As MoveFileExA with MOVEFILE_COPY_ALLOWED: an existing target is not replaced.
    if (NTSTATUS status = nt_rename_file(old_name.path, new_name.path, false, false);
        status != STATUS_SUCCESS) {
        errno = errno_from_status(status);
        return -1;
    }
    return 0;
}
