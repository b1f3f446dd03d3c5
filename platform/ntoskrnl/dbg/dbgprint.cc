// DbgPrint: the debugger's output, kept for the test controls and shown on the "ntoskrnl" trace
// channel.
#include "platform/ntoskrnl/dbg/dbgprint.h"

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/rtl/format.h"
#include "platform/wdm.h"

namespace {

struct Output {
    std::mutex lock;
    std::vector<std::string> lines;
};

Output& output() {
    static Output* instance = new Output;
    return *instance;
}

}  // namespace

namespace ntoskrnl {

std::vector<std::string> debug_output() {
    auto& o = output();
    std::lock_guard guard(o.lock);
    return o.lines;
}

void clear_debug_output() {
    auto& o = output();
    std::lock_guard guard(o.lock);
    o.lines.clear();
}

}  // namespace ntoskrnl

extern "C" ULONG DbgPrint(PCSTR Format, ...) {
    va_list arguments;
    va_start(arguments, Format);
    std::string text = ntoskrnl::format_windows(Format, false, arguments);
    va_end(arguments);
    TRACE("ntoskrnl", "DbgPrint: %s", text.c_str());
    auto& o = output();
    std::lock_guard guard(o.lock);
    o.lines.push_back(std::move(text));
    return STATUS_SUCCESS;
}
