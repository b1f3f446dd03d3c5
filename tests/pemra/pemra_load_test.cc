// Pemra as a host program sees it: loaded at run time, looked up by name, with its own random
// provider that nothing acquires before the first call that draws random bytes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "crypto/random.h"
#include "platform/testing/random_controls.h"

namespace {

class PemraLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = dlopen(PEMRA_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    template <class F>
    F* symbol(const char* name) {
        void* address = dlsym(handle_, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<F*>(address);
    }
    void* handle_ = nullptr;
};

}  // namespace

TEST_F(PemraLibrary, LoadingAcquiresNothingAndTheFirstDrawAcquiresItsOwnProvider) {
    EXPECT_EQ(sim::random_acquisition_calls(), 0u);

    // This program's own copy of the library holds its own provider.
    uint8_t buffer[16];
    ASSERT_EQ(get_random(buffer, sizeof buffer), 0);
    const unsigned after_own = sim::random_acquisition_calls();
    EXPECT_EQ(after_own, 1u);

    auto* pemra_get_random = symbol<int32_t(uint8_t*, uint32_t)>("get_random");
    ASSERT_NE(pemra_get_random, nullptr);
    ASSERT_EQ(pemra_get_random(buffer, sizeof buffer), 0);
    EXPECT_EQ(sim::random_acquisition_calls(), after_own + 1);
    ASSERT_EQ(pemra_get_random(buffer, sizeof buffer), 0);
    EXPECT_EQ(sim::random_acquisition_calls(), after_own + 1);
}

TEST_F(PemraLibrary, ExportsBehaveAsInsideTheOtherLibraries) {
    using Xts = int32_t(const uint8_t*, const uint8_t*, const uint8_t*, uint32_t, uint8_t*);
    using XtsUnchecked =
        int32_t(const uint8_t*, const uint8_t*, const uint8_t*, uint32_t, uint8_t*, uint8_t);
    auto* xts_encrypt = symbol<Xts>("sm4_xts_encrypt");
    auto* xts = symbol<XtsUnchecked>("sm4_xts");
    auto* sm3 = symbol<void(const uint8_t*, uint32_t, uint8_t*)>("sm3");
    ASSERT_TRUE(xts_encrypt && xts && sm3);

    uint8_t key[32] = {}, tweak[16] = {}, data[48] = {}, out[48] = {};
    EXPECT_EQ(xts_encrypt(nullptr, tweak, data, 32, out), 1);
    for (uint32_t len : {0u, 15u, 40u, 48u}) EXPECT_EQ(xts(key, tweak, data, len, out, 1), 0);

    uint8_t digest[32];
    sm3(reinterpret_cast<const uint8_t*>("abc"), 3, digest);
    EXPECT_EQ(digest[0], 0x66);
    EXPECT_EQ(digest[31], 0xe0);

    // Internal functions are not reachable.
    EXPECT_EQ(dlsym(handle_, "sm4_cbc_encrypt"), nullptr);
    EXPECT_EQ(dlsym(handle_, "bn_mod_inv"), nullptr);
}
