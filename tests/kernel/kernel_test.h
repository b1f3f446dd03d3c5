// Helpers of the kernel tests: counted strings and object attributes over their own text, and a
// driver defined in the test program whose dispatch routines record every request and hand it to
// the test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/testing/kernel_controls.h"
#include "platform/wdm.h"

// A UNICODE_STRING with its own text.
class KernelString {
  public:
    explicit KernelString(std::u16string text) : text_(std::move(text)) {
        const auto bytes = static_cast<USHORT>(text_.size() * sizeof(WCHAR));
        string_ = {bytes, bytes, text_.data()};
    }
    KernelString(const KernelString&) = delete;
    KernelString& operator=(const KernelString&) = delete;
    PUNICODE_STRING get() { return &string_; }

  private:
    std::u16string text_;
    UNICODE_STRING string_;
};

// OBJECT_ATTRIBUTES naming an object.
class Attributes {
  public:
    explicit Attributes(std::u16string name, ULONG attributes = OBJ_CASE_INSENSITIVE,
                        HANDLE root = nullptr)
        : name_(std::move(name)) {
        InitializeObjectAttributes(&attributes_, name_.get(), attributes, root, nullptr);
    }
    POBJECT_ATTRIBUTES get() { return &attributes_; }

  private:
    KernelString name_;
    OBJECT_ATTRIBUTES attributes_;
};

// What the test driver saw of one request.
struct Seen {
    UCHAR major;
    PFILE_OBJECT file;
};

// The service "KernelTest": loaded for each test, its devices deleted and the driver unloaded at
// the end. Requests go to handler (set by the test); while it is empty, creates, cleanups and
// closes succeed and everything else is refused with STATUS_INVALID_DEVICE_REQUEST.
class TestDriver : public ::testing::Test {
  public:
    using Handler = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;
    static PDRIVER_OBJECT driver_;
    // Completes irp with status and information; returns status.
    static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);

  protected:
    void SetUp() override;
    void TearDown() override;

    // A device of the driver (ready to open).
    PDEVICE_OBJECT create_device(const std::u16string& name, ULONG flags = 0,
                                 DEVICE_TYPE type = FILE_DEVICE_UNKNOWN);
    // Links "\??\<link>" to target.
    void link(const std::u16string& link, const std::u16string& target);

    static void set_handler(Handler handler);
    static std::vector<Seen> seen();
    static void clear_seen();

  private:
    std::vector<std::u16string> links_;
};
