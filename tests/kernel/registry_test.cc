// RtlQueryRegistryValues over the registry that tests write and user mode reads, with the rules
// Windows applies to required values, defaults, types and direct stores.
#include <cstring>

#include "platform/testing/registry_controls.h"
#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"

namespace {

constexpr char kKey[] = "SYSTEM\\CurrentControlSet\\Services\\KtRegistry";
const char16_t kPath[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KtRegistry";

class RegistryQuery : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::registry_delete_key(kKey);
        sim::registry_set_dword(kKey, "MaxDevices", 5);
        sim::registry_set_string(kKey, "Name", "disk");
        sim::registry_set_value(kKey, "Blob", REG_BINARY, {1, 2, 3, 4, 5, 6});
    }
    void TearDown() override { sim::registry_delete_key(kKey); }

    // One DIRECT entry for name into target, default 3.
    NTSTATUS query_dword(const char16_t* name, ULONG flags, ULONG* target,
                         ULONG default_type = REG_DWORD) {
        std::u16string value_name(name);
        ULONG default_value = 3;
        RTL_QUERY_REGISTRY_TABLE table[2] = {};
        table[0].Flags = flags | RTL_QUERY_REGISTRY_DIRECT;
        table[0].Name = value_name.data();
        table[0].EntryContext = target;
        table[0].DefaultType = default_type;
        table[0].DefaultData = &default_value;
        table[0].DefaultLength = sizeof default_value;
        return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, nullptr, nullptr);
    }
};

TEST_F(RegistryQuery, DwordValuesRequiredValuesAndDefaults) {
    ULONG value = 0;
    EXPECT_EQ(query_dword(u"maxdevices", RTL_QUERY_REGISTRY_REQUIRED, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);
    // Required and absent: the query fails and the default is not used.
    value = 0;
    EXPECT_EQ(query_dword(u"Missing", RTL_QUERY_REGISTRY_REQUIRED, &value),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(query_dword(u"Missing", 0, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 3u);
    value = 9;
    EXPECT_EQ(query_dword(u"Missing", 0, &value, REG_NONE), STATUS_SUCCESS);
    EXPECT_EQ(value, 9u);
    // The type check compares the value's type with the one in DefaultType's top byte.
    const ULONG check = REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT | REG_DWORD;
    EXPECT_EQ(query_dword(u"MaxDevices", RTL_QUERY_REGISTRY_TYPECHECK, &value, check),
              STATUS_SUCCESS);
    EXPECT_EQ(query_dword(u"Name", RTL_QUERY_REGISTRY_TYPECHECK, &value, check),
              STATUS_OBJECT_TYPE_MISMATCH);
}

TEST_F(RegistryQuery, MissingKeysFailUnlessOptional) {
    ULONG value = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    char16_t name[] = u"MaxDevices";
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = name;
    table[0].EntryContext = &value;
    const char16_t missing[] = u"\\Registry\\Machine\\System\\NoSuchKeyOfHalden";
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, missing, table, nullptr, nullptr),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, missing, table,
                                     nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, u"KtRegistry", table, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);
}

TEST_F(RegistryQuery, StringsAndBinaryDataGoWhereTheEntryPoints) {
    UNICODE_STRING allocated{};  // a null buffer: the query allocates one
    WCHAR small_buffer[2];
    UNICODE_STRING small{0, sizeof small_buffer, small_buffer};
    uint8_t blob[16];
    std::memset(blob, 0xEE, sizeof blob);
    const LONG size = -static_cast<LONG>(sizeof blob);  // negative: the data alone
    std::memcpy(blob, &size, sizeof size);
    char16_t name[] = u"Name", blob_name[] = u"Blob";
    RTL_QUERY_REGISTRY_TABLE table[3] = {};
    table[0] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, name, &allocated, REG_NONE, nullptr, 0};
    table[1] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, blob_name, blob, REG_NONE, nullptr, 0};
    ASSERT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(allocated.Buffer, allocated.Length / sizeof(WCHAR)), u"disk");
    EXPECT_EQ(allocated.MaximumLength, allocated.Length + sizeof(WCHAR));
    RtlFreeUnicodeString(&allocated);
    EXPECT_EQ(std::memcmp(blob, "\x01\x02\x03\x04\x05\x06", 6), 0);
    EXPECT_EQ(blob[6], 0xEE);
    table[0].EntryContext = &small;
    table[1] = {};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, nullptr, nullptr),
              STATUS_BUFFER_TOO_SMALL);
}

struct Seen {
    std::u16string name;
    ULONG type;
    std::vector<uint8_t> data;
};

NTSTATUS NTAPI collect(PWSTR name, ULONG type, PVOID data, ULONG length, PVOID context,
                       PVOID entry_context) {
    static_cast<std::vector<Seen>*>(context)->push_back(
        {name, type,
         std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length)});
    return entry_context ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

TEST_F(RegistryQuery, QueryRoutinesSeeEachValueAndCanStopTheQuery) {
    std::vector<Seen> seen;
    char16_t name[] = u"Name";
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].QueryRoutine = collect;
    table[0].Name = name;
    ASSERT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, &seen, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].type, REG_SZ);
    EXPECT_EQ(seen[0].data, (std::vector<uint8_t>{'d', 0, 'i', 0, 's', 0, 'k', 0, 0, 0}));
    seen.clear();
    table[0].Name = nullptr;  // every value of the key
    ASSERT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, &seen, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(seen.size(), 3u);
    int stop = 1;
    table[0].EntryContext = &stop;  // the routine fails: the query ends with its status
    seen.clear();
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPath, table, &seen, nullptr),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(RegistryQuery, TheExVersionIsFoundByNameAndUserModeReadsTheSameValues) {
    KernelString routine(u"RtlQueryRegistryValuesEx"), unknown(u"RtlNoSuchRoutine");
    auto query_ex = reinterpret_cast<decltype(&RtlQueryRegistryValues)>(
        MmGetSystemRoutineAddress(routine.get()));
    ASSERT_NE(query_ex, nullptr);
    EXPECT_EQ(MmGetSystemRoutineAddress(unknown.get()), nullptr);
    ULONG value = 0;
    char16_t name[] = u"MaxDevices";
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED;
    table[0].Name = name;
    table[0].EntryContext = &value;
    EXPECT_EQ(query_ex(RTL_REGISTRY_ABSOLUTE, kPath, table, nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);

    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    DWORD read = 0, type = 0, size = sizeof read;
    EXPECT_EQ(
        RegQueryValueExA(key, "MaxDevices", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, 5u);
    RegCloseKey(key);
}

}  // namespace
