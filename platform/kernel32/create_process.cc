// Processes started by command line. The programs are the system's own that the simulation
// models (platform/kernel32/system_programs.h); each runs on a thread of its own, and its process
// and thread handles are signalled when its main returns.
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/core/trace.h"
#include "platform/kernel32/system_programs.h"
#include "platform/ntoskrnl/ke/event.h"

namespace platform {
namespace {

// What the process and thread handles of one started program share.
class Run {
  public:
    void end(DWORD code) {
        {
            std::lock_guard guard(lock_);
            exit_code_ = code;
            ended_ = true;
        }
        changed_.notify_all();
    }
    bool wait(DWORD timeout_ms) {
        std::unique_lock guard(lock_);
        auto ended = [this] { return ended_; };
        if (timeout_ms == INFINITE) {
            changed_.wait(guard, ended);
            return true;
        }
        return changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), ended);
    }
    DWORD exit_code() {
        std::lock_guard guard(lock_);
        return ended_ ? exit_code_ : STILL_ACTIVE;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool ended_ = false;
    DWORD exit_code_ = STILL_ACTIVE;
};

class ProcessHandle : public ntoskrnl::Waitable {
  public:
    explicit ProcessHandle(std::shared_ptr<Run> run) : run_(std::move(run)) {}
    bool wait(DWORD timeout_ms) override { return run_->wait(timeout_ms); }
    DWORD exit_code() { return run_->exit_code(); }

  private:
    std::shared_ptr<Run> run_;
};

// The program's one thread, which ends with it.
class ThreadHandle : public ntoskrnl::Waitable {
  public:
    explicit ThreadHandle(std::shared_ptr<Run> run) : run_(std::move(run)) {}
    bool wait(DWORD timeout_ms) override { return run_->wait(timeout_ms); }

  private:
    std::shared_ptr<Run> run_;
};

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The command line's words as a program's C runtime splits them: blanks separate words, double
// quotes group.
std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

// The system's programs, by lower-cased name.
struct Programs {
    std::mutex lock;
    std::map<std::string, ProgramMain> mains;
};

Programs& programs() {
    static Programs* instance = new Programs;
    return *instance;
}

std::string folded(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

DWORD next_id() {
    static std::atomic<DWORD> id{0x1000};
    return id.fetch_add(4);
}

}  // namespace

void register_system_program(const std::string& name, ProgramMain main) {
    auto& p = programs();
    std::lock_guard guard(p.lock);
    p.mains[folded(name)] = main;
}

ProgramMain find_system_program(const std::string& name) {
    auto& p = programs();
    std::lock_guard guard(p.lock);
    auto found = p.mains.find(folded(name));
    return found == p.mains.end() ? nullptr : found->second;
}

}  // namespace platform

using namespace platform;

extern "C" BOOL WINAPI CreateProcessA(LPCSTR application_name, LPSTR command_line,
                                      LPSECURITY_ATTRIBUTES process_attributes,
                                      LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                                      DWORD creation_flags, LPVOID environment,
                                      LPCSTR current_directory, LPSTARTUPINFOA startup_info,
                                      LPPROCESS_INFORMATION process_information) {
    (void)process_attributes, (void)thread_attributes, (void)environment;
    TRACE("kernel32", "CreateProcessA(\"%s\", \"%s\", %d, %#x, \"%s\")",
          application_name ? application_name : "(null)", command_line ? command_line : "(null)",
          inherit_handles, creation_flags, current_directory ? current_directory : "(null)");
    if ((!application_name && !command_line) || !startup_info || !process_information)
        return fail(ERROR_INVALID_PARAMETER);
    std::vector<std::string> words = split_command_line(command_line ? command_line : "");
    // Without an application name the command line's first word names the program.
    const std::string program = application_name ? application_name : words.empty() ? "" : words[0];
    if (!words.empty()) words.erase(words.begin());
    const ProgramMain program_main = find_system_program(program);
    if (!program_main) {
        TRACE("kernel32", "no program \"%s\" on this machine", program.c_str());
        return fail(ERROR_FILE_NOT_FOUND);
    }
    auto run = std::make_shared<Run>();
    std::thread([run, program_main, arguments = std::move(words)] {
        run->end(program_main(arguments));
    }).detach();
    process_information->hProcess = handle_insert(std::make_shared<ProcessHandle>(run));
    process_information->hThread = handle_insert(std::make_shared<ThreadHandle>(run));
    process_information->dwProcessId = next_id();
    process_information->dwThreadId = next_id();
    return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
    TRACE("kernel32", "GetExitCodeProcess(%p, %p)", process, static_cast<void*>(exit_code));
    auto handle = handle_get<ProcessHandle>(process);
    if (!handle) return FALSE;
    if (!exit_code) return fail(ERROR_INVALID_PARAMETER);
    *exit_code = handle->exit_code();
    return TRUE;
}
