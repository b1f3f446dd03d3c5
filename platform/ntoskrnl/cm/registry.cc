// The registry's one store, below advapi32's Reg calls and the kernel's registry queries alike:
// keys under HKEY_LOCAL_MACHINE are answered by views, each owning the keys at and below its root,
// and otherwise by the store's keys and values. Names compare without case, as on Windows; a path
// may carry empty components ("a\\b\\"), which are skipped.
#include "platform/ntoskrnl/cm/registry.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/wdm.h"

namespace ntoskrnl::cm {
namespace {

struct View {
    Path root;
    RegistryView answer;
};

struct Views {
    std::mutex lock;
    std::vector<View> list;
};

Views& views() {
    static Views* instance = new Views;
    return *instance;
}

// True when prefix is a leading part of path (or all of it).
bool starts_with(const Path& path, const Path& prefix) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!same_name(path[i], prefix[i])) return false;
    return true;
}

// The keys that tests write, below HKEY_LOCAL_MACHINE.
struct StoreKey {
    std::string name;
    std::vector<RegistryValue> values;
    std::vector<std::unique_ptr<StoreKey>> subkeys;
};

struct Store {
    std::mutex lock;
    StoreKey root;
};

Store& store() {
    static Store* instance = new Store;
    return *instance;
}

// With the store locked: the key at path, made on the way when create is set; null when missing.
StoreKey* store_key(const Path& path, bool create) {
    StoreKey* key = &store().root;
    for (const std::string& part : path) {
        auto found = std::find_if(key->subkeys.begin(), key->subkeys.end(),
                                  [&](const auto& sub) { return same_name(sub->name, part); });
        if (found != key->subkeys.end()) {
            key = found->get();
        } else if (create) {
            key->subkeys.push_back(std::make_unique<StoreKey>(StoreKey{part, {}, {}}));
            key = key->subkeys.back().get();
        } else {
            return nullptr;
        }
    }
    return key;
}

void add_subkey(RegistryKeyData* data, const std::string& name) {
    if (std::none_of(data->subkeys.begin(), data->subkeys.end(),
                     [&](const std::string& s) { return same_name(s, name); }))
        data->subkeys.push_back(name);
}

}  // namespace

std::optional<RegistryKeyData> registry_key(const Path& path) {
    std::vector<View> list;
    {
        auto& v = views();
        std::lock_guard guard(v.lock);
        list = v.list;
    }
    for (auto& view : list) {
        if (starts_with(path, view.root))
            return view.answer(Path(path.begin() + view.root.size(), path.end()));
    }
    // A key of the store, and an ancestor of some root: its subkeys are the store's and the
    // next components of the roots below it.
    RegistryKeyData data;
    bool found = false;
    {
        auto& st = store();
        std::lock_guard guard(st.lock);
        if (const StoreKey* key = store_key(path, false)) {
            found = true;
            data.values = key->values;
            for (const auto& sub : key->subkeys) data.subkeys.push_back(sub->name);
        }
    }
    for (auto& view : list) {
        if (view.root.size() > path.size() && starts_with(view.root, path)) {
            found = true;
            add_subkey(&data, view.root[path.size()]);
        }
    }
    if (!found && !path.empty()) return std::nullopt;
    return data;
}

Path split_path(const char* text) {
    Path path;
    std::string part;
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '\\') {
            if (!part.empty()) path.push_back(std::move(part));
            part.clear();
        } else {
            part += *c;
        }
    }
    if (!part.empty()) path.push_back(std::move(part));
    return path;
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void register_registry_view(const std::string& root, RegistryView view) {
    auto& v = views();
    std::lock_guard guard(v.lock);
    v.list.push_back({split_path(root.c_str()), std::move(view)});
}

RegistryValue registry_string(const std::string& name, const std::string& text) {
    RegistryValue value{name, REG_SZ, std::vector<uint8_t>(text.begin(), text.end())};
    value.data.push_back(0);
    return value;
}

std::optional<RegistryKeyData> registry_key(const std::string& path) {
    return registry_key(split_path(path.c_str()));
}

void registry_set_value(const std::string& key, const std::string& name, uint32_t type,
                        const std::vector<uint8_t>& data) {
    auto& st = store();
    std::lock_guard guard(st.lock);
    auto& values = store_key(split_path(key.c_str()), true)->values;
    auto found = std::find_if(values.begin(), values.end(),
                              [&](const auto& v) { return same_name(v.name, name); });
    if (found != values.end())
        *found = {name, type, data};
    else
        values.push_back({name, type, data});
}

void registry_delete_key(const std::string& key) {
    auto path = split_path(key.c_str());
    if (path.empty()) return;
    const std::string last = path.back();
    path.pop_back();
    auto& st = store();
    std::lock_guard guard(st.lock);
    if (auto* parent = store_key(path, false))
        std::erase_if(parent->subkeys, [&](const auto& s) { return same_name(s->name, last); });
}

void registry_create_key(const std::string& key) {
    auto& st = store();
    std::lock_guard guard(st.lock);
    store_key(split_path(key.c_str()), true);
}

}  // namespace ntoskrnl::cm
