#include "platform/ntoskrnl/ob/namespace.h"

#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "platform/ntoskrnl/ob/header.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl::ob {
namespace {

// A directory's entries by upper-cased name; each entry holds a reference on its object.
struct Directory {
    std::map<std::u16string, void*> entries;
};

struct SymbolicLink {
    std::u16string target;
};

void destroy_directory(void* body) {
    static_cast<Directory*>(body)->~Directory();
}

void destroy_link(void* body) {
    static_cast<SymbolicLink*>(body)->~SymbolicLink();
}

// Links are followed at most this often in one look-up.
constexpr int kMaxReparses = 32;

std::mutex& namespace_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

Directory* as_directory(void* body) {
    return type_of(body) == &directory_type ? static_cast<Directory*>(body) : nullptr;
}

// Enters body as name in directory (with the namespace lock held); takes the entry's reference
// and one on the directory.
void enter(void* directory, std::u16string_view name, void* body, bool permanent) {
    static_cast<Directory*>(directory)->entries.emplace(upcase(name), body);
    reference(body);
    reference(directory);
    Header* header = header_of(body);
    header->name = name;
    header->directory = directory;
    header->permanent = permanent;
}

// The root, made on first use with "\Device", "\Driver", "\FileSystem" and "\GLOBAL??" (also
// named "\??").
void* root_directory() {
    static void* root = [] {
        void* top = create_directory();
        header_of(top)->permanent = true;
        for (const char16_t* name : {u"Device", u"Driver", u"FileSystem", u"GLOBAL??"}) {
            void* directory = create_directory();
            enter(top, name, directory, true);
            dereference(directory);
        }
        void* global = static_cast<Directory*>(top)->entries.at(u"GLOBAL??");
        static_cast<Directory*>(top)->entries.emplace(u"??", global);
        reference(global);
        return top;
    }();
    return root;
}

// Takes a named object out of its directory (with the namespace lock held); the two references
// that go with the name are added to drop, to be dropped once the lock is released.
void remove_name(void* body, std::vector<void*>* drop) {
    Header* header = header_of(body);
    auto* directory = static_cast<Directory*>(header->directory);
    directory->entries.erase(upcase(header->name));
    drop->push_back(body);
    drop->push_back(header->directory);
    header->directory = nullptr;
}

void drop_all(const std::vector<void*>& drop) {
    for (void* body : drop) dereference(body);
}

struct Walk {
    void* directory = nullptr;  // where the last name was looked up
    std::u16string last;        // that name
    void* object = nullptr;     // what it names (null: nothing)
    std::u16string remaining;   // the path after object, when object is not a directory
};

// Resolves path with the namespace lock held. stop_before_last: the walk ends at the directory
// that should hold the last name (for creating it) instead of looking the name up.
NTSTATUS walk(std::u16string_view path, void* root, bool open_link, bool stop_before_last,
              Walk* out) {
    if (root && !as_directory(root)) return STATUS_OBJECT_TYPE_MISMATCH;
    std::u16string current(path);
    void* start = root;
    for (int reparses = 0;; ++reparses) {
        if (reparses > kMaxReparses) return STATUS_OBJECT_NAME_NOT_FOUND;
        size_t i = 0;
        if (!start) {
            if (current.empty() || current[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
            start = root_directory();
            i = 1;
        } else if (!current.empty() && current[0] == u'\\') {
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        }
        void* object = start;
        bool reparsed = false;
        while (!reparsed) {
            Directory* directory = as_directory(object);
            if (!directory) {
                // A device (or file) parses what is left of the name itself.
                if (stop_before_last) return STATUS_OBJECT_TYPE_MISMATCH;
                out->object = object;
                out->remaining = current.substr(i - 1);
                return STATUS_SUCCESS;
            }
            if (i >= current.size()) {
                if (i == 1 && current.size() == 1 && !stop_before_last) {  // "\" alone
                    out->object = object;
                    return STATUS_SUCCESS;
                }
                return STATUS_OBJECT_NAME_INVALID;
            }
            const size_t end = current.find(u'\\', i);
            const bool last = end == std::u16string::npos;
            const std::u16string_view name =
                std::u16string_view(current).substr(i, last ? std::u16string::npos : end - i);
            if (name.empty()) return STATUS_OBJECT_NAME_INVALID;
            if (last && stop_before_last) {
                out->directory = object;
                out->last = name;
                return STATUS_SUCCESS;
            }
            auto found = directory->entries.find(upcase(name));
            if (found == directory->entries.end())
                return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
            void* entry = found->second;
            if (type_of(entry) == &symbolic_link_type && !(last && open_link)) {
                const std::u16string& text = static_cast<SymbolicLink*>(entry)->target;
                std::u16string target = text.substr(0, text.find(u'\0'));
                if (!last) target += current.substr(end);
                current = std::move(target);
                start = nullptr;
                reparsed = true;
                continue;
            }
            object = entry;
            if (last) {
                out->object = object;
                return STATUS_SUCCESS;
            }
            i = end + 1;
        }
    }
}

}  // namespace

_OBJECT_TYPE directory_type{"Directory", destroy_directory, nullptr};
_OBJECT_TYPE symbolic_link_type{"SymbolicLink", destroy_link, nullptr};

void* create_directory() {
    void* body = create_object(&directory_type, sizeof(Directory));
    new (body) Directory;
    return body;
}

NTSTATUS insert_object(void* body, std::u16string_view path, void* root, ULONG attributes,
                       void** existing) {
    std::lock_guard guard(namespace_lock());
    Walk found;
    NTSTATUS status = walk(path, root, false, true, &found);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) status = STATUS_OBJECT_PATH_NOT_FOUND;
    if (!NT_SUCCESS(status)) return status;
    auto* directory = static_cast<Directory*>(found.directory);
    if (auto taken = directory->entries.find(upcase(found.last));
        taken != directory->entries.end()) {
        if ((attributes & OBJ_OPENIF) && existing && type_of(taken->second) == type_of(body)) {
            reference(taken->second);
            *existing = taken->second;
            return STATUS_OBJECT_NAME_EXISTS;
        }
        return STATUS_OBJECT_NAME_COLLISION;
    }
    enter(found.directory, found.last, body, (attributes & OBJ_PERMANENT) != 0);
    return STATUS_SUCCESS;
}

NTSTATUS lookup_object(std::u16string_view path, void* root, bool open_link, Lookup* out) {
    std::lock_guard guard(namespace_lock());
    Walk found;
    const NTSTATUS status = walk(path, root, open_link, false, &found);
    if (!NT_SUCCESS(status)) return status;
    reference(found.object);
    out->object = found.object;
    out->remaining = std::move(found.remaining);
    return STATUS_SUCCESS;
}

void make_temporary(void* body) {
    std::vector<void*> drop;
    {
        std::lock_guard guard(namespace_lock());
        Header* header = header_of(body);
        header->permanent = false;
        if (header->directory && handle_count(body) == 0) remove_name(body, &drop);
    }
    drop_all(drop);
}

void last_handle_closed(void* body) {
    std::vector<void*> drop;
    {
        std::lock_guard guard(namespace_lock());
        Header* header = header_of(body);
        if (header->directory && !header->permanent && handle_count(body) == 0)
            remove_name(body, &drop);
    }
    drop_all(drop);
}

std::u16string full_name(const void* body) {
    std::lock_guard guard(namespace_lock());
    std::u16string name;
    for (const Header* header = header_of(body); header->directory;
         header = header_of(header->directory))
        name = u"\\" + header->name + name;
    return name;
}

NTSTATUS create_symbolic_link(std::u16string_view name, std::u16string_view target) {
    void* body = create_object(&symbolic_link_type, sizeof(SymbolicLink));
    new (body) SymbolicLink{std::u16string(target)};
    const NTSTATUS status = insert_object(body, name, nullptr, OBJ_PERMANENT);
    dereference(body);
    return status;
}

NTSTATUS delete_symbolic_link(std::u16string_view name) {
    Lookup found;
    NTSTATUS status = lookup_object(name, nullptr, true, &found);
    if (!NT_SUCCESS(status)) return status;
    if (type_of(found.object) == &symbolic_link_type)
        make_temporary(found.object);
    else
        status = STATUS_OBJECT_TYPE_MISMATCH;
    dereference(found.object);
    return status;
}

NTSTATUS query_symbolic_link(std::u16string_view name, std::u16string* target) {
    Lookup found;
    NTSTATUS status = lookup_object(name, nullptr, true, &found);
    if (!NT_SUCCESS(status)) return status;
    if (type_of(found.object) == &symbolic_link_type && found.remaining.empty()) {
        std::lock_guard guard(namespace_lock());
        *target = static_cast<SymbolicLink*>(found.object)->target;
    } else {
        status = STATUS_OBJECT_TYPE_MISMATCH;
    }
    dereference(found.object);
    return status;
}

NTSTATUS set_symbolic_link(std::u16string_view name, std::u16string_view target) {
    void* body = create_object(&symbolic_link_type, sizeof(SymbolicLink));
    new (body) SymbolicLink{std::u16string(target)};
    NTSTATUS status;
    {
        std::lock_guard guard(namespace_lock());
        Walk found;
        status = walk(name, nullptr, true, true, &found);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND) status = STATUS_OBJECT_PATH_NOT_FOUND;
        if (NT_SUCCESS(status)) {
            auto* directory = static_cast<Directory*>(found.directory);
            auto taken = directory->entries.find(upcase(found.last));
            if (taken == directory->entries.end())
                enter(found.directory, found.last, body, true);
            else if (type_of(taken->second) == &symbolic_link_type)
                static_cast<SymbolicLink*>(taken->second)->target = target;
            else
                status = STATUS_OBJECT_NAME_COLLISION;
        }
    }
    dereference(body);
    return status;
}

bool drive_letter_defined(char letter) {
    const char16_t name[] = {u'\\', u'?', u'?', u'\\', static_cast<char16_t>(letter), u':', 0};
    Lookup found;
    if (!NT_SUCCESS(lookup_object(name, nullptr, true, &found))) return false;
    dereference(found.object);
    return true;
}

NTSTATUS list_directory(std::u16string_view path, std::vector<std::u16string>* names,
                        POBJECT_TYPE type) {
    Lookup found;
    NTSTATUS status = lookup_object(path, nullptr, false, &found);
    if (!NT_SUCCESS(status)) return status;
    {
        std::lock_guard guard(namespace_lock());
        if (Directory* directory = as_directory(found.object)) {
            for (auto& [key, entry] : directory->entries) {
                // The alias "??" of "\GLOBAL??" is not a name of its own.
                if (key == upcase(header_of(entry)->name) && (!type || type_of(entry) == type))
                    names->push_back(header_of(entry)->name);
            }
        } else {
            status = STATUS_OBJECT_TYPE_MISMATCH;
        }
    }
    dereference(found.object);
    return status;
}

}  // namespace ntoskrnl::ob
