// The registry calls as Windows answers them. Runs against the Linux layer and, in the Windows
// build, against Wine's registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

bool same_name(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

TEST(Registry, KeysOpenWithoutCaseAndListTheirSubkeys) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\MICROSOFT\\windows nt\\", &key),
              ERROR_SUCCESS);
    bool found = false;
    DWORD index = 0;
    for (;; ++index) {
        char name[260];
        DWORD size = sizeof name;
        const LSTATUS status =
            RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(size, std::strlen(name));
        found = found || same_name(name, "CurrentVersion");
    }
    EXPECT_TRUE(found);
    char small[2];
    DWORD size = sizeof small;
    EXPECT_EQ(RegEnumKeyExA(key, 0, small, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    DWORD type = 0;
    DWORD bytes = 0;
    EXPECT_EQ(RegQueryValueExA(key, "No such value", nullptr, &type, nullptr, &bytes),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\No such key of Halden", &missing),
              ERROR_FILE_NOT_FOUND);
}

}  // namespace
