// The pool, the run-time library's strings and formatting, and DbgPrint, as Windows has them.
#include <cstring>

#include "tests/kernel/kernel_test.h"

namespace {

constexpr ULONG kTag = 'K' | 't' << 8 | 's' << 16 | 't' << 24;  // "Ktst"

TEST(Pool, BlocksAreCountedPerTagAndFailuresCanBeInjected) {
    const uint64_t before = sim::kernel::pool_live_bytes("Ktst");
    void* small = ExAllocatePoolWithTag(NonPagedPool, 100, kTag);
    void* large = ExAllocatePoolWithTag(NonPagedPoolNx, 0x300000, kTag);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(large) % 16, 0u);
    EXPECT_EQ(sim::kernel::pool_live_bytes("Ktst"), before + 100 + 0x300000);
    EXPECT_EQ(sim::kernel::pool_live_blocks("Ktst"), 2u);
    ExFreePoolWithTag(large, kTag);
    ExFreePool(small);
    EXPECT_EQ(sim::kernel::pool_live_bytes("Ktst"), before);

    // The second and third blocks of at least 1 MiB fail; smaller ones and other tags do not.
    sim::kernel::pool_fail({.tag = "Ktst", .min_bytes = 1 << 20, .skip = 1, .count = 2});
    void* blocks[4];
    for (auto& block : blocks) block = ExAllocatePoolWithTag(NonPagedPool, 1 << 20, kTag);
    EXPECT_NE(blocks[0], nullptr);
    EXPECT_EQ(blocks[1], nullptr);
    EXPECT_EQ(blocks[2], nullptr);
    EXPECT_NE(blocks[3], nullptr);
    void* other =
        ExAllocatePoolWithTag(NonPagedPool, 1 << 20, 'X' | 'x' << 8 | 'x' << 16 | 'x' << 24);
    EXPECT_NE(other, nullptr);
    sim::kernel::pool_clear_faults();
    for (void* block : {blocks[0], blocks[3], other})
        if (block) ExFreePool(block);
    EXPECT_EQ(sim::kernel::pool_live_bytes("Ktst"), before);
}

TEST(Pool, FreeingWithAnotherTagOrTwiceStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ExFreePoolWithTag(ExAllocatePoolWithTag(NonPagedPool, 8, kTag), kTag + 1),
                 "BAD_POOL_CALLER");
    EXPECT_DEATH(
        {
            void* block = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
            ExFreePool(block);
            ExFreePool(block);
        },
        "BAD_POOL_CALLER");
}

TEST(Strings, CountedStringsAndTheirConversion) {
    UNICODE_STRING unicode;
    RtlInitUnicodeString(&unicode, u"\\Device\\orvik");
    EXPECT_EQ(unicode.Length, 26);
    EXPECT_EQ(unicode.MaximumLength, 28);
    RtlInitUnicodeString(&unicode, nullptr);
    EXPECT_EQ(unicode.Length, 0);
    EXPECT_EQ(unicode.Buffer, nullptr);

    // Into a buffer of 240 bytes: 119 characters and the terminator fit, 120 do not.
    WCHAR buffer[120];
    for (size_t n : {119u, 120u}) {
        const std::string text(n, 'p');
        ANSI_STRING ansi;
        RtlInitAnsiString(&ansi, text.c_str());
        UNICODE_STRING into{0, sizeof buffer, buffer};
        EXPECT_EQ(RtlAnsiStringToUnicodeString(&into, &ansi, FALSE),
                  n == 119 ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW);
        if (n == 119) {
            EXPECT_EQ(into.Length, 238);
            EXPECT_EQ(buffer[119], 0);
        }
    }
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "\\??\\C:\\vol.img");
    UNICODE_STRING allocated;
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&allocated, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(allocated.Buffer, allocated.Length / 2), u"\\??\\C:\\vol.img");
    RtlFreeUnicodeString(&allocated);
    EXPECT_EQ(allocated.Buffer, nullptr);
}

TEST(Strings, SafeFormattingCutsAndTerminates) {
    WCHAR name[32];
    ASSERT_EQ(RtlStringCbPrintfW(name, sizeof name, u"\\Device\\orvik\\device%u", 12u),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"\\Device\\orvik\\device12");
    size_t bytes = 0;
    EXPECT_EQ(RtlStringCbLengthW(name, sizeof name, &bytes), STATUS_SUCCESS);
    EXPECT_EQ(bytes, 44u);
    WCHAR small[8];
    EXPECT_EQ(RtlStringCbPrintfW(small, sizeof small, u"%s-%d", u"abcdef", 12345),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(std::u16string(small), u"abcdef-");
    EXPECT_EQ(RtlStringCbLengthW(small, 6, &bytes), STATUS_INVALID_PARAMETER);  // no NUL in reach
    char narrow[16];
    EXPECT_EQ(RtlStringCbPrintfA(narrow, sizeof narrow, "%hs/%ls", "a", u"b"), STATUS_SUCCESS);
    EXPECT_STREQ(narrow, "a/b");
    EXPECT_EQ(RtlStringCbPrintfA(narrow, 0, "x"), STATUS_INVALID_PARAMETER);
}

TEST(DbgPrint, FormatsWithTheKernelsConventionsAndIsKeptForTests) {
    sim::kernel::clear_debug_output();
    UNICODE_STRING unicode;
    RtlInitUnicodeString(&unicode, u"\\Device\\x");
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "ansi");
    const LONG minus_one = -1;
    DbgPrint("GetCrypteEnableFromRegistry: g_dwEnableCrypte: %ld.\n", 1L * 0 + 1);
    DbgPrint("%ld %lu %x %I64x %lld|%5d|%-4u|%s %ws %S %wZ %Z %c %%\n", minus_one, 7u, 255u,
             0x123456789ULL, -2LL, 42, 3u, "narrow", u"wide", u"S", &unicode, &ansi, 'c');
    DbgPrint("%p\n", reinterpret_cast<void*>(0xABCDEF));
    EXPECT_EQ(sim::kernel::debug_output(),
              (std::vector<std::string>{
                  "GetCrypteEnableFromRegistry: g_dwEnableCrypte: 1.\n",
                  "-1 7 ff 123456789 -2|   42|3   |narrow wide S \\Device\\x ansi c %\n",
                  "0000000000ABCDEF\n"}));
    sim::kernel::clear_debug_output();
    DbgPrint("%200u", 7u);  // a width beyond any fixed-size buffer
    EXPECT_EQ(sim::kernel::debug_output(), std::vector<std::string>{std::string(199, ' ') + "7"});
}

}  // namespace
