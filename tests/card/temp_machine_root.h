// A fresh machine root for one test: HALDEN_ROOT points at a new temporary folder, removed again
// (with everything under it) when the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempMachineRoot {
  public:
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
    TempMachineRoot(const TempMachineRoot&) = delete;
    TempMachineRoot& operator=(const TempMachineRoot&) = delete;

    // The Linux path of a Windows drive path such as "C:/Halden/x" (forward slashes only).
    std::filesystem::path path(const std::string& drive_path) const {
        return std::filesystem::path(root_) / drive_path.substr(0, 1) / drive_path.substr(3);
    }
    // Creates the folder that a drive path names.
    void make_folder(const std::string& drive_path) const {
        std::filesystem::create_directories(path(drive_path));
    }

  private:
    std::string root_;
};
