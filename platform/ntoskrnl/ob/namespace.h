// The one object namespace of user and kernel mode: "\" with "\Device", "\Driver",
// "\FileSystem" and "\GLOBAL??" (also reached as "\??"), directories, symbolic links and named
// objects. Names compare without case. Paths are absolute or relative to a directory handle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ntoskrnl/ob/object.h"

namespace ntoskrnl::ob {

extern _OBJECT_TYPE directory_type;
extern _OBJECT_TYPE symbolic_link_type;

// A new, empty, unnamed directory with one reference for the caller.
void* create_directory();

// Enters a new object (its creator's reference stays the creator's) under path. attributes:
// OBJ_PERMANENT keeps the name after the last handle; OBJ_OPENIF opens an existing object of the
// same type instead (STATUS_OBJECT_NAME_EXISTS, with *existing set and referenced).
// STATUS_OBJECT_NAME_COLLISION when the name is taken, STATUS_OBJECT_PATH_NOT_FOUND when a
// directory on the way is missing, STATUS_OBJECT_NAME_INVALID or STATUS_OBJECT_PATH_SYNTAX_BAD
// for a malformed path.
NTSTATUS insert_object(void* body, std::u16string_view path, void* root, ULONG attributes,
                       void** existing = nullptr);

struct Lookup {
    void* object = nullptr;    // referenced; the caller drops it
    std::u16string remaining;  // the path after the object ("\a\b"), for a device to parse
};
// Resolves path through directories and symbolic links. Stops at the first object that is not a
// directory (with the rest of the path in remaining). A missing last name gives
// STATUS_OBJECT_NAME_NOT_FOUND, a missing directory on the way STATUS_OBJECT_PATH_NOT_FOUND.
// open_link: a symbolic link as the last name is the result itself.
NTSTATUS lookup_object(std::u16string_view path, void* root, bool open_link, Lookup* out);

// Makes a named object temporary: its name goes when no handle is open (at once when none is).
void make_temporary(void* body);

// Leaves the namespace at the object's last handle, unless permanent (object.cc calls it).
void last_handle_closed(void* body);

// Symbolic links. A link's target text may hold several targets separated by NULs (an MS-DOS
// device's stacked definitions, newest first); a look-up follows the first.
NTSTATUS create_symbolic_link(std::u16string_view name, std::u16string_view target);
NTSTATUS delete_symbolic_link(std::u16string_view name);
// The target text of the link name (the link itself, not followed).
NTSTATUS query_symbolic_link(std::u16string_view name, std::u16string* target);
// Gives the link name a new target text, or makes it (permanent) when the name is free;
// STATUS_OBJECT_NAME_COLLISION when the name is another kind of object.
NTSTATUS set_symbolic_link(std::u16string_view name, std::u16string_view target);

// The names in a directory, in the order they sort; only those of the objects of type when one is
// given.
NTSTATUS list_directory(std::u16string_view path, std::vector<std::u16string>* names,
                        POBJECT_TYPE type = nullptr);

// Whether the drive letter is an MS-DOS device ("\??\X:" names an object): its names then lead
// into the namespace, not to the host's drive folder.
bool drive_letter_defined(char letter);

}  // namespace ntoskrnl::ob
