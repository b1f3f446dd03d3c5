// The test's helper program (softcard_store_client, built beside the test program) run as a
// separate process: another application on the same machine. It inherits the environment, and
// with it the machine root.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

extern char** environ;
#endif

class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        const std::string program = helper_path();
#ifdef _WIN32
        std::string command_line = "\"" + program + "\"";
        for (const std::string& arg : args) command_line += " \"" + arg + "\"";
        // Under Wine a start now and then fails while other processes are being torn down
        // around it; a few tries tell that apart from a program that cannot start.
        for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
            if (attempt) Sleep(200);
            STARTUPINFOA startup{};
            startup.cb = sizeof startup;
            if (CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process_)) {
                CloseHandle(process_.hThread);
                started_ = true;
            } else {
                error_ = GetLastError();
            }
        }
#else
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        error_ = posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ);
        started_ = error_ == 0;
#endif
    }
    ~ChildProcess() {
        if (!started_ || waited_) return;
        kill();
        wait();
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const {
        return started_;
    }
    // Why the last start failed (the system's error code).
    unsigned long start_error() const {
        return error_;
    }

    // The exit code; -1 when the process did not start or did not end by itself.
    int wait() {
        if (!started_ || waited_) return -1;
        waited_ = true;
#ifdef _WIN32
        WaitForSingleObject(process_.hProcess, INFINITE);
        DWORD code = 0;
        const bool got = GetExitCodeProcess(process_.hProcess, &code);
        CloseHandle(process_.hProcess);
        return got && code != kKilledCode ? static_cast<int>(code) : -1;
#else
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0)
            if (errno != EINTR) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    }

    // Ends the process at once, wherever it is.
    void kill() {
        if (!started_ || waited_) return;
#ifdef _WIN32
        TerminateProcess(process_.hProcess, kKilledCode);
#else
        ::kill(pid_, SIGKILL);
#endif
    }

  private:
    static std::string helper_path() {
#ifdef _WIN32
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string path = self;
        return path.substr(0, path.find_last_of("\\/") + 1) + "softcard_store_client.exe";
#else
        char self[PATH_MAX] = {};
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
        return path.substr(0, path.find_last_of('/') + 1) + "softcard_store_client";
#endif
    }

#ifdef _WIN32
    static constexpr DWORD kKilledCode = 0xDEAD;
    PROCESS_INFORMATION process_{};
#else
    pid_t pid_ = 0;
#endif
    bool started_ = false;
    bool waited_ = false;
    unsigned long error_ = 0;
};
