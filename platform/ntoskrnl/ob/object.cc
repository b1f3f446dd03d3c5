#include "platform/ntoskrnl/ob/object.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/header.h"
#include "platform/ntoskrnl/ob/namespace.h"

namespace ntoskrnl::ob {
namespace {

constexpr std::align_val_t kAlignment{16};

void destroy_now(void* body) {
    Header* header = header_of(body);
    header->type->destroy(body);
    header->~Header();
    ::operator delete(header, kAlignment);
}

// Objects whose last reference went at a raised IRQL, destroyed by one worker thread.
class Reaper {
  public:
    void add(void* body) {
        std::lock_guard guard(lock_);
        if (!started_) {
            std::thread([this] { run(); }).detach();
            started_ = true;
        }
        queue_.push_back(body);
        wake_.notify_one();
    }

  private:
    [[noreturn]] void run() {
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return !queue_.empty(); });
            void* body = queue_.front();
            queue_.pop_front();
            guard.unlock();
            destroy_now(body);
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<void*> queue_;
    bool started_ = false;
};

Reaper& reaper() {
    static Reaper* instance = new Reaper;
    return *instance;
}

}  // namespace

void* create_object(POBJECT_TYPE type, size_t body_size) {
    void* block = ::operator new(kHeaderSize + body_size, kAlignment);
    auto* header = new (block) Header;
    header->type = type;
    void* body = static_cast<char*>(block) + kHeaderSize;
    std::memset(body, 0, body_size);
    return body;
}

POBJECT_TYPE type_of(const void* body) {
    return header_of(body)->type;
}

void reference(void* body) {
    header_of(body)->pointers.fetch_add(1, std::memory_order_relaxed);
}

void dereference(void* body) {
    Header* header = header_of(body);
    const long left = header->pointers.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left > 0) return;
    if (left < 0) bug_check("REFERENCE_BY_POINTER", header->type->name);
    if (current_thread()->irql > PASSIVE_LEVEL)
        reaper().add(body);
    else
        destroy_now(body);
}

long pointer_count(const void* body) {
    return header_of(body)->pointers.load(std::memory_order_relaxed);
}

void handle_opened(void* body) {
    header_of(body)->handles.fetch_add(1, std::memory_order_relaxed);
}

void handle_closed(void* body) {
    Header* header = header_of(body);
    if (header->handles.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (header->type->last_handle_closed) header->type->last_handle_closed(body);
    ob::last_handle_closed(body);
}

long handle_count(const void* body) {
    return header_of(body)->handles.load(std::memory_order_relaxed);
}

}  // namespace ntoskrnl::ob

using namespace ntoskrnl;

extern "C" LONG_PTR FASTCALL ObfDereferenceObject(PVOID Object) {
    const long left = ob::pointer_count(Object) - 1;
    ob::dereference(Object);
    return left;
}
