// A shared library loaded as an application loads it (Linux), and its exports by name.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

class SharedLibrary {
  public:
    explicit SharedLibrary(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_NE(library_, nullptr) << dlerror();
    }
    ~SharedLibrary() {
        if (library_) dlclose(library_);
    }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The export name as a function of type F; null (and a failure) when there is none.
    template <class F>
    F* get(const char* name) const {
        auto* f = reinterpret_cast<F*>(dlsym(library_, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }

  private:
    void* library_;
};
