// Tokens, SIDs, security descriptors and files created with one. Runs against the Linux layer and,
// in the Windows build, against Wine's advapi32; how a DACL becomes the host's file permissions is
// the Linux layer's own mapping and is checked there only.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/test_folder.h"

namespace {

std::string user_sid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD needed = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<uint8_t> user(needed);
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, user.data(), needed, &needed));
    CloseHandle(token);
    char* text = nullptr;
    EXPECT_TRUE(
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text));
    const std::string sid = text ? text : "";
    LocalFree(text);
    return sid;
}

TEST(Security, TokenUserAndDescriptorStrings) {
    const std::string sid = user_sid();
    EXPECT_EQ(sid.rfind("S-1-", 0), 0u) << sid;
    for (const std::string& good : {"D:P(A;;FA;;;" + sid + ")", std::string("D:(A;;FR;;;WD)"),
                                    std::string("O:BAG:SYD:AI(D;OICI;0x1f01ff;;;BU)")}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ULONG size = 0;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            good.c_str(), SDDL_REVISION_1, &descriptor, &size))
            << good;
        EXPECT_GE(size, 20u) << good;
        LocalFree(descriptor);
    }
    for (const char* bad : {"D:(X;;FA;;;WD)", "D:(A;;ZZ;;;WD)", "D:(A;;FA;;;S-1)", "Q:WD"}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorA(bad, SDDL_REVISION_1,
                                                                          &descriptor, nullptr))
            << bad;
    }
}

TEST(Security, FileSecurityOfMissingAndPresentFiles) {
    TestFolder folder;
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityA(folder.win("missing").c_str(), DACL_SECURITY_INFORMATION, nullptr,
                                  0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    folder.write("present", "x");
    EXPECT_FALSE(GetFileSecurityA(folder.win("present").c_str(), DACL_SECURITY_INFORMATION, nullptr,
                                  0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<uint8_t> descriptor(needed);
    EXPECT_TRUE(GetFileSecurityA(folder.win("present").c_str(), DACL_SECURITY_INFORMATION,
                                 descriptor.data(), needed, &needed));
}

#if !defined(_WIN32)
// A file made with the DACL that sddl gives; its host permissions.
std::filesystem::perms made_with(const TestFolder& folder, const std::string& name,
                                 const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    HANDLE file = CreateFileA(folder.win(name).c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << sddl;
    CloseHandle(file);
    return std::filesystem::status(folder.host(name)).permissions() & std::filesystem::perms::all;
}

// The Linux layer's mapping of DACLs onto host permissions (Wine has its own).
TEST(Security, DaclOfANewFileBecomesItsPermissions) {
    using std::filesystem::perms;
    TestFolder folder;
    const std::string user = user_sid();
    EXPECT_EQ(made_with(folder, "user", "D:P(A;;FA;;;" + user + ")"), perms::owner_all);
    EXPECT_EQ(made_with(folder, "owner-rights", "D:P(A;;FRFW;;;OW)"),
              perms::owner_read | perms::owner_write);
    EXPECT_EQ(made_with(folder, "everyone", "D:P(A;;FA;;;" + user + ")(A;;FR;;;WD)"),
              perms::owner_all | perms::group_read | perms::others_read);
    EXPECT_EQ(made_with(folder, "denied", "D:P(D;;FW;;;" + user + ")(A;;FR;;;WD)(A;;FW;;;WD)"),
              perms::owner_read | perms::group_read | perms::group_write | perms::others_read |
                  perms::others_write);
}

// A file's DACL, read with GetFileSecurityA, gives a new file the same permissions.
TEST(Security, FileSecurityCarriesThePermissionsOver) {
    using std::filesystem::perms;
    TestFolder folder;
    for (perms chosen : {perms::owner_read | perms::owner_write | perms::group_read,
                         perms::owner_read | perms::owner_write, perms::owner_all}) {
        folder.write("source", "x");
        std::filesystem::permissions(folder.host("source"), chosen);
        DWORD needed = 0;
        GetFileSecurityA(folder.win("source").c_str(), DACL_SECURITY_INFORMATION, nullptr, 0,
                         &needed);
        std::vector<uint8_t> descriptor(needed);
        ASSERT_TRUE(GetFileSecurityA(folder.win("source").c_str(), DACL_SECURITY_INFORMATION,
                                     descriptor.data(), needed, &needed));
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor.data(), FALSE};
        HANDLE file = CreateFileA(folder.win("copy").c_str(), GENERIC_WRITE, 0, &security,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        EXPECT_EQ(std::filesystem::status(folder.host("copy")).permissions() & perms::all, chosen);
        std::filesystem::remove(folder.host("copy"));
        std::filesystem::remove(folder.host("source"));
    }
}
#endif

}  // namespace
