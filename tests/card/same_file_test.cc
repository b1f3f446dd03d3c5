// The same-file rule of the file functions: the files compared, not their names.
#include "card/containers/same_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_machine_root.h"

namespace {

TEST(SameFile, ComparesTheFilesNotTheirNames) {
    TempMachineRoot root;
    root.make_folder("C:/Halden/x");
    std::ofstream(root.path("C:/Halden/x/a.txt")) << "same bytes";
    std::ofstream(root.path("C:/Halden/x/b.txt")) << "same bytes";
    std::filesystem::create_hard_link(root.path("C:/Halden/x/a.txt"),
                                      root.path("C:/Halden/x/link.txt"));
    const struct {
        const char* other;
        bool same;
    } cases[] = {
        {"C:/Halden/x/a.txt", true},
        {"c:\\HALDEN\\X\\A.TXT", true},
        {"C:/Halden/x/../x/./a.txt", true},
        {"C:/Halden/x/link.txt", true},  // another name of the same file
        {"C:/Halden/x/b.txt", false},    // equal bytes, another file
        {"C:/Halden/x/missing.txt", false},
        {"C:/Halden/x", false},  // a folder is no file
    };
    for (const auto& c : cases) {
        EXPECT_EQ(same_file("C:/Halden/x/a.txt", c.other), c.same) << c.other;
        EXPECT_EQ(same_file(c.other, "C:/Halden/x/a.txt"), c.same) << c.other;
    }
    EXPECT_FALSE(same_file("C:/Halden/x/missing.txt", "C:/Halden/x/missing.txt"));
}

}  // namespace
