// The process works in another folder while a WorkingFolder lives, for tests of names without a
// drive, which count from the current folder.
#pragma once

#include <filesystem>

class WorkingFolder {
  public:
    explicit WorkingFolder(const std::filesystem::path& folder)
        : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(saved_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::filesystem::path saved_;
};
