// The software-card build's log: every level is written and the file is never moved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "card/log/log.h"
#include "tests/support/temp_machine_root.h"

namespace {

TEST(SoftcardLog, WritesEveryLevelAndNeverMoves) {
    TempMachineRoot root;
    root.make_folder("C:/Halden");
    const auto log = root.path("C:/Halden/sdf-vrex.log");
    { std::ofstream(log, std::ios::binary).put('x'); }
    std::filesystem::resize_file(log, 10485761);
    LogPrint(LOG_DEBUG, "a.cpp", 7, "debug line");
    EXPECT_FALSE(std::filesystem::exists(root.path("C:/Halden/sdf-vrex-bak.log")));
    std::ifstream in(log, std::ios::binary);
    in.seekg(10485761);
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("[DEBUG] debug line [a.cpp][7]"), std::string::npos) << line;
}

}  // namespace
