// The one object namespace, as Windows' object manager keeps it: directories, symbolic links,
// names without case, and what user mode's CreateFileA finds there.
#include <algorithm>

#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"

namespace {

bool listed(const std::string& directory, const std::string& name) {
    auto names = sim::kernel::directory_entries(directory);
    return std::find(names.begin(), names.end(), name) != names.end();
}

NTSTATUS create_directory(const std::u16string& name, ULONG attributes, HANDLE* handle) {
    Attributes object(name, OBJ_CASE_INSENSITIVE | attributes);
    return ZwCreateDirectoryObject(handle, DIRECTORY_ALL_ACCESS, object.get());
}

// Removes a permanent directory: made temporary through a handle, it goes with that handle.
void remove_directory(const std::u16string& name) {
    HANDLE handle;
    if (NT_SUCCESS(create_directory(name, OBJ_OPENIF, &handle))) {
        ZwMakeTemporaryObject(handle);
        ZwClose(handle);
    }
}

TEST(Namespace, StartsWithTheSystemDirectoriesAndQuestionMarksAreGlobal) {
    for (const char* name : {"\\Device", "\\Driver", "\\GLOBAL??", "\\??"})
        EXPECT_TRUE(sim::kernel::object_exists(name)) << name;
    KernelString link(u"\\??\\KtAlias"), target(u"\\Device\\KtNothing");
    ASSERT_EQ(IoCreateSymbolicLink(link.get(), target.get()), STATUS_SUCCESS);
    EXPECT_TRUE(listed("\\GLOBAL??", "KtAlias"));
    EXPECT_TRUE(sim::kernel::object_exists("\\global??\\ktalias"));
    KernelString global_name(u"\\GLOBAL??\\KtAlias");
    EXPECT_EQ(IoCreateSymbolicLink(global_name.get(), target.get()), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(IoDeleteSymbolicLink(global_name.get()), STATUS_SUCCESS);
    EXPECT_FALSE(sim::kernel::object_exists("\\??\\KtAlias"));
    EXPECT_EQ(IoDeleteSymbolicLink(link.get()), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST(Namespace, DirectoryNamesAreCheckedAsWindowsChecksThem) {
    HANDLE first, second;
    ASSERT_EQ(create_directory(u"\\Device\\KtDirectory", OBJ_PERMANENT, &first), STATUS_SUCCESS);
    EXPECT_EQ(create_directory(u"\\DEVICE\\ktdirectory", 0, &second), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(create_directory(u"\\device\\KTDIRECTORY", OBJ_OPENIF, &second),
              STATUS_OBJECT_NAME_EXISTS);
    EXPECT_EQ(ZwClose(second), STATUS_SUCCESS);

    struct Case {
        std::u16string name;
        NTSTATUS status;
    };
    const Case cases[] = {
        {u"\\NoSuchDirectory\\KtDirectory", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"\\Device\\NoSuch\\Deeper\\KtDirectory", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"Device\\KtRelative", STATUS_OBJECT_PATH_SYNTAX_BAD},
        {u"\\Device\\\\KtEmptyName", STATUS_OBJECT_NAME_INVALID},
        {u"\\Device\\", STATUS_OBJECT_NAME_INVALID},
    };
    for (const auto& c : cases) {
        HANDLE handle = nullptr;
        EXPECT_EQ(create_directory(c.name, 0, &handle), c.status)
            << std::string(c.name.begin(), c.name.end());
    }

    // A directory under the new one, named relative to its handle.
    Attributes relative(u"Inner", OBJ_CASE_INSENSITIVE, first);
    HANDLE inner;
    ASSERT_EQ(ZwCreateDirectoryObject(&inner, DIRECTORY_ALL_ACCESS, relative.get()),
              STATUS_SUCCESS);
    EXPECT_TRUE(listed("\\Device\\KtDirectory", "Inner"));
    EXPECT_EQ(ZwClose(inner), STATUS_SUCCESS);
    EXPECT_FALSE(listed("\\Device\\KtDirectory", "Inner"));  // temporary: gone with its handle

    // Permanent: stays after its handle; made temporary, it goes with its last handle.
    EXPECT_EQ(ZwClose(first), STATUS_SUCCESS);
    EXPECT_TRUE(sim::kernel::object_exists("\\Device\\KtDirectory"));
    ASSERT_EQ(create_directory(u"\\Device\\KtDirectory", OBJ_OPENIF, &first),
              STATUS_OBJECT_NAME_EXISTS);
    ASSERT_EQ(create_directory(u"\\Device\\KtDirectory", OBJ_OPENIF, &second),
              STATUS_OBJECT_NAME_EXISTS);
    EXPECT_EQ(ZwMakeTemporaryObject(first), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(first), STATUS_SUCCESS);
    EXPECT_TRUE(sim::kernel::object_exists("\\Device\\KtDirectory"));
    EXPECT_EQ(ZwClose(second), STATUS_SUCCESS);
    EXPECT_FALSE(sim::kernel::object_exists("\\Device\\KtDirectory"));
}

TEST(Namespace, LinksAreFollowedOnTheWay) {
    HANDLE directory;
    ASSERT_EQ(create_directory(u"\\Device\\KtTarget", OBJ_PERMANENT, &directory), STATUS_SUCCESS);
    ZwClose(directory);
    KernelString link(u"\\??\\KtViaLink"), target(u"\\Device\\KtTarget");
    ASSERT_EQ(IoCreateSymbolicLink(link.get(), target.get()), STATUS_SUCCESS);
    HANDLE inner;
    ASSERT_EQ(create_directory(u"\\GLOBAL??\\KtViaLink\\Made", OBJ_PERMANENT, &inner),
              STATUS_SUCCESS);
    ZwClose(inner);
    EXPECT_TRUE(listed("\\Device\\KtTarget", "Made"));
    EXPECT_TRUE(sim::kernel::object_exists("\\??\\ktvialink\\MADE"));
    remove_directory(u"\\Device\\KtTarget\\Made");
    remove_directory(u"\\Device\\KtTarget");
    IoDeleteSymbolicLink(link.get());
}

class DeviceNames : public TestDriver {};

HANDLE open(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(DeviceNames, UserModeNamesReachTheDeviceThroughTheirLink) {
    create_device(u"\\Device\\KtNamed");
    link(u"KtNamed", u"\\Device\\KtNamed");
    for (const char* name : {"\\\\.\\KtNamed", "\\\\?\\ktnamed", "\\\\.\\KTNAMED"}) {
        HANDLE handle = open(name);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << name;
        EXPECT_TRUE(CloseHandle(handle));
    }
    // The rest of a name after the device is the device's to parse.
    set_handler([](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        const std::u16string name(stack->FileObject->FileName.Buffer,
                                  stack->FileObject->FileName.Length / sizeof(WCHAR));
        const bool known = stack->MajorFunction != IRP_MJ_CREATE || name == u"\\Inner\\Name";
        return complete(irp, known ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND);
    });
    HANDLE handle = open("\\\\.\\KtNamed\\Inner\\Name");
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    EXPECT_EQ(open("\\\\.\\KtNamed\\Other"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DeviceNames, MissingLinksDirectoriesAndDevicesGiveTheirErrors) {
    HANDLE directory;
    ASSERT_EQ(create_directory(u"\\Device\\KtDisks", OBJ_PERMANENT, &directory), STATUS_SUCCESS);
    ZwClose(directory);
    create_device(u"\\Device\\KtDisks\\disk1");
    link(u"Q:", u"\\Device\\KtDisks\\disk1");
    link(u"R:", u"\\Device\\KtNoDriver\\disk1");  // the directory of a driver not loaded
    link(u"S:", u"\\Device\\KtDisks\\disk9");     // a device the driver does not have
    struct Case {
        const char* name;
        DWORD error;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"\\\\.\\Q:", ERROR_SUCCESS, STATUS_SUCCESS},
        {"\\\\.\\P:", ERROR_FILE_NOT_FOUND, STATUS_OBJECT_NAME_NOT_FOUND},
        {"\\\\.\\R:", ERROR_PATH_NOT_FOUND, STATUS_OBJECT_PATH_NOT_FOUND},
        {"\\\\.\\S:", ERROR_FILE_NOT_FOUND, STATUS_OBJECT_NAME_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0xDEAD);
        HANDLE handle = open(c.name);
        EXPECT_EQ(handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS, c.error)
            << c.name;
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        // Kernel mode sees the same name as "\??\X:".
        std::u16string kernel_name = u"\\??\\" + std::u16string(1, c.name[4]) + u":";
        Attributes object(kernel_name);
        IO_STATUS_BLOCK iosb;
        EXPECT_EQ(ZwCreateFile(&handle, GENERIC_READ, object.get(), &iosb, nullptr, 0, 0, FILE_OPEN,
                               0, nullptr, 0),
                  c.status)
            << c.name;
        if (NT_SUCCESS(c.status)) ZwClose(handle);
    }
    IoDeleteDevice(driver_->DeviceObject);
    remove_directory(u"\\Device\\KtDisks");
}

}  // namespace
