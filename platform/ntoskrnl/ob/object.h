// The object manager: every kernel object (directory, symbolic link, driver, device, file,
// thread) is a body behind a header that counts pointer references and handles and holds the
// object's name and security descriptor. The body goes when the last reference does; a named
// object that is not permanent leaves the namespace when its last handle is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wdm.h"

// What an object is: how its body ends, and what its last handle's close does.
struct _OBJECT_TYPE {
    const char* name;
    void (*destroy)(void* body);             // ends the body's life; its memory is freed after
    void (*last_handle_closed)(void* body);  // null when nothing happens
};

namespace ntoskrnl::ob {

// A new object of type with a zeroed body of body_size bytes (16-byte aligned), unnamed, with
// one pointer reference for the caller.
void* create_object(POBJECT_TYPE type, size_t body_size);
POBJECT_TYPE type_of(const void* body);

void reference(void* body);
// Drops a reference; the last one destroys the object. A last reference dropped above
// PASSIVE_LEVEL (a spin lock held) is handed to a worker thread, since destroying may send IRPs.
void dereference(void* body);
long pointer_count(const void* body);

// Handle counts, for the kernel's and user mode's handle tables.
void handle_opened(void* body);
void handle_closed(void* body);
long handle_count(const void* body);

// The object's full name ("\Device\Name"), as given when it was entered in the namespace
// (empty when unnamed or no longer named).
std::u16string full_name(const void* body);

// The object's security descriptor in self-relative form (ZwSetSecurityObject sets it); empty when
// it was never given one.
std::vector<uint8_t> security_descriptor(const void* body);

}  // namespace ntoskrnl::ob
