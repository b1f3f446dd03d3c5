#include "platform/unix/host_image.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/unix/unix_file.h"

extern char** environ;

namespace platform::host {
namespace {

std::string temporary_folder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

std::string find_program(const std::string& program) {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::string folder;
        for (const char* c = path;; ++c) {
            if (*c == ':' || *c == '\0') {
                if (!folder.empty()) folders.push_back(folder);
                folder.clear();
                if (*c == '\0') break;
            } else {
                folder += *c;
            }
        }
    }
    folders.push_back("/usr/sbin");
    folders.push_back("/sbin");
    for (const auto& folder : folders)
        if (executable(folder + '/' + program)) return folder + '/' + program;
    return {};
}

}  // namespace

std::unique_ptr<TemporaryImage> TemporaryImage::create(uint64_t size, std::string* error) {
    std::string path = temporary_folder() + "/halden-volume-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "no temporary file in " + temporary_folder() + ": " + std::strerror(errno);
        return nullptr;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *error = "a temporary file cannot take " + std::to_string(size) +
                 " bytes: " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<TemporaryImage>(new TemporaryImage(fd, std::move(path), size));
}

TemporaryImage::TemporaryImage(int fd, std::string path, uint64_t size)
    : fd_(fd), path_(std::move(path)), size_(size) {}

TemporaryImage::~TemporaryImage() {
    close(fd_);
    unlink(path_.c_str());
}

bool TemporaryImage::read(uint64_t offset, void* data, size_t length) const {
    size_t done;
    return unix_file::read_at(fd_, data, length, offset, &done) == STATUS_SUCCESS && done == length;
}

bool TemporaryImage::write(uint64_t offset, const void* data, size_t length) {
    size_t done;
    return unix_file::write_at(fd_, data, length, offset, &done) == STATUS_SUCCESS &&
           done == length;
}

std::vector<Range> TemporaryImage::data_ranges() const {
    // A writer may have grown the file past the size it was made with; only that size counts.
    std::vector<Range> ranges;
    off_t position = 0;
    const auto end = static_cast<off_t>(size_);
    while (position < end) {
        const off_t data = lseek(fd_, position, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // no data after position
            return {{0, size_}};        // the host cannot tell holes
        }
        if (data >= end) break;
        off_t hole = lseek(fd_, data, SEEK_HOLE);
        if (hole < 0) return {{0, size_}};
        if (hole > end) hole = end;
        ranges.push_back({static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data)});
        position = hole;
    }
    return ranges;
}

int run_tool(const std::string& program, const std::vector<std::string>& arguments,
             std::string* output) {
    const std::string path = find_program(program);
    if (path.empty()) {
        *output = program + " is not installed";
        return -1;
    }
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        *output = std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    output->clear();
    if (spawned == 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            output->append(buffer, static_cast<size_t>(got));
        }
    }
    close(pipe_fds[0]);
    if (spawned != 0) {
        *output = path + ": " + std::strerror(spawned);
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform::host
