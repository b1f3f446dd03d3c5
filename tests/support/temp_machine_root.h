// A fresh machine for one test.
// - Linux: HALDEN_ROOT points at a new temporary folder, removed again (with everything under it)
//   when the object goes.
// - Windows (the cross build's tests, run in a Wine prefix made for them): the drives are the
//   prefix's own, shared by every test program. "C:/Halden" is removed when the object is made and
//   when it goes, so each test starts from a clean state; ctest runs the programs that use it one
//   at a time (the RESOURCE_LOCK of tests/CMakeLists.txt).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempMachineRoot {
  public:
#ifdef _WIN32
    TempMachineRoot() {
        clear();
    }
    ~TempMachineRoot() {
        clear();
    }
#else
    TempMachineRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "halden-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data()) ? pattern : std::string();
        setenv("HALDEN_ROOT", root_.c_str(), 1);
    }
    ~TempMachineRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        unsetenv("HALDEN_ROOT");
    }
#endif
    TempMachineRoot(const TempMachineRoot&) = delete;
    TempMachineRoot& operator=(const TempMachineRoot&) = delete;

    // The host path of a Windows drive path such as "C:/Halden/x" (forward slashes only).
    std::filesystem::path path(const std::string& drive_path) const {
#ifdef _WIN32
        return std::filesystem::path(drive_path);
#else
        return std::filesystem::path(root_) / drive_path.substr(0, 1) / drive_path.substr(3);
#endif
    }
    // Creates the folder that a drive path names.
    void make_folder(const std::string& drive_path) const {
        std::filesystem::create_directories(path(drive_path));
    }

  private:
#ifdef _WIN32
    static void clear() {
        std::error_code ignored;
        std::filesystem::remove_all("C:/Halden", ignored);
    }
#else
    std::string root_;
#endif
};
