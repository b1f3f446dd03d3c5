// A folder of the test's own on drive C:, removed with everything in it at the end. On Linux the
// machine root is a new temporary folder (HALDEN_ROOT); under Wine C: is the prefix's drive and the
// folder a uniquely named one at its root, so that test programs running side by side never meet.
// host() names the same files for checks that do not go through the layer under test.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include "tests/support/temp_machine_root.h"
#endif

// True when the program runs under Wine rather than on Windows or on the Linux layer.
inline bool under_wine() {
#if defined(_WIN32)
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

class TestFolder {
  public:
    TestFolder() {
#if !defined(_WIN32)
        std::filesystem::create_directories(drive_root('C'));
#endif
        // A name no other program (nor an earlier run that left its folder) has taken.
        std::random_device random;
        do {
            name_ = "halden-" + std::to_string(random()) + std::to_string(random());
        } while (!std::filesystem::create_directory(host("")));
    }
    ~TestFolder() {
#if defined(_WIN32)
        std::error_code ignored;
        std::filesystem::remove_all(host(""), ignored);
#endif
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder's own name ("halden-" and digits).
    const std::string& name() const {
        return name_;
    }
    // The Windows name of relative ("a\\b") in the folder: "C:\halden-...\a\b".
    std::string win(const std::string& relative) const {
        return "C:\\" + name_ + (relative.empty() ? "" : "\\" + relative);
    }
    // The root folder of drive letter as the host sees it.
    std::filesystem::path drive_root(char letter) const {
#if defined(_WIN32)
        return std::string(1, letter) + ":\\";
#else
        return machine_.path(std::string(1, letter) + ":/").parent_path();
#endif
    }
    // The host's name of relative in the folder ('\\' separates names).
    std::filesystem::path host(const std::string& relative) const {
        std::filesystem::path path = drive_root('C') / name_;
        std::string part;
        for (char c : relative + '\\') {
            if (c == '\\') {
                if (!part.empty()) path /= part;
                part.clear();
            } else {
                part += c;
            }
        }
        return path;
    }

    void make_folder(const std::string& relative) const {
        std::filesystem::create_directories(host(relative));
    }
    void write(const std::string& relative, const std::string& bytes) const {
        std::ofstream(host(relative), std::ios::binary) << bytes;
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(host(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& relative) const {
        return std::filesystem::exists(host(relative));
    }
    // The names in a folder, spelt as stored.
    std::vector<std::string> entries(const std::string& relative) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(host(relative)))
            names.push_back(entry.path().filename().string());
        return names;
    }

  private:
#if !defined(_WIN32)
    TempMachineRoot machine_;  // Linux: the whole machine root is the test's own
#endif
    std::string name_;
};
