// The MULX/ADCX/ADOX field backend of the 64-bit SM2 arithmetic against the portable one, word
// for word. Built with HALDEN_SM2_FIELD_PORTABLE, the program also forces the portable backend
// for every test linked beside it (the SM2 suites run again on that backend).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crypto/sm2_fast.h"

namespace {

namespace fast = crypto_internal::sm2_fast;
using fast::FieldBackend;

struct Words {
    uint64_t w[4];
};

bool operator==(const Words& a, const Words& b) {
    return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2] && a.w[3] == b.w[3];
}

std::ostream& operator<<(std::ostream& os, const Words& a) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%016llx%016llx%016llx%016llx",
                  static_cast<unsigned long long>(a.w[3]), static_cast<unsigned long long>(a.w[2]),
                  static_cast<unsigned long long>(a.w[1]), static_cast<unsigned long long>(a.w[0]));
    return os << buf;
}

constexpr uint64_t kOnes = ~uint64_t{0};

// Boundary inputs: small values, values around p (p itself and above included), 2^256 - 1, single
// words and bits, and 2^256 mod p (one in Montgomery form).
const Words kEdges[] = {
    {{0, 0, 0, 0}},
    {{1, 0, 0, 0}},
    {{2, 0, 0, 0}},
    {{kOnes, 0, 0, 0}},
    {{0, 1, 0, 0}},
    {{0, 0, 0, 1}},
    {{0, 0, 0, uint64_t{1} << 63}},
    {{0x0000000000000001ULL, 0x00000000ffffffffULL, 0, 0x0000000100000000ULL}},
    {{0xfffffffffffffffdULL, 0xffffffff00000000ULL, kOnes, 0xfffffffeffffffffULL}},  // p - 2
    {{0xfffffffffffffffeULL, 0xffffffff00000000ULL, kOnes, 0xfffffffeffffffffULL}},  // p - 1
    {{0xffffffffffffffffULL, 0xffffffff00000000ULL, kOnes, 0xfffffffeffffffffULL}},  // p
    {{0x0000000000000000ULL, 0xffffffff00000001ULL, kOnes, 0xfffffffeffffffffULL}},  // p + 1
    {{kOnes, kOnes, kOnes, 0xfffffffeffffffffULL}},
    {{0, 0, 0, 0xffffffff00000000ULL}},
    {{kOnes, kOnes, kOnes, kOnes}},
    {{kOnes, 0, kOnes, 0}},
    {{0, kOnes, 0, kOnes}},
    {{0xffffffff, 0xffffffff00000000ULL, 0xffffffff, 0xffffffff00000000ULL}},
};

Words random_words(std::mt19937_64& rng) {
    return {{rng(), rng(), rng(), rng()}};
}

// Random words with a bias towards all-ones and zero words, where carries run furthest.
Words random_edgy(std::mt19937_64& rng) {
    Words x = random_words(rng);
    for (auto& w : x.w) {
        const uint64_t pick = rng() % 4;
        if (pick == 0) w = kOnes;
        if (pick == 1) w = 0;
    }
    return x;
}

std::vector<Words> inputs() {
    std::vector<Words> v(std::begin(kEdges), std::end(kEdges));
    std::mt19937_64 rng(0x5d2f1e1d);
    for (int i = 0; i < 48; ++i) v.push_back(random_edgy(rng));
    for (int i = 0; i < 16; ++i) v.push_back(random_words(rng));
    return v;
}

Words mul(const Words& x, const Words& y, FieldBackend b) {
    Words out;
    fast::mont_mul_p(out.w, x.w, y.w, b);
    return out;
}

Words sqr(const Words& x, FieldBackend b) {
    Words out;
    fast::mont_sqr_p(out.w, x.w, b);
    return out;
}

class Sm2FieldBackendTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!fast::field_backend_supported(FieldBackend::kAdx))
            GTEST_SKIP() << "no BMI2 and ADX on this CPU";
    }
};

TEST_F(Sm2FieldBackendTest, MultiplicationOfEveryInputPairMatchesPortable) {
    const std::vector<Words> v = inputs();
    for (const Words& x : v)
        for (const Words& y : v)
            ASSERT_EQ(mul(x, y, FieldBackend::kAdx), mul(x, y, FieldBackend::kPortable))
                << x << " * " << y;
}

TEST_F(Sm2FieldBackendTest, SquaringMatchesPortableAndMultiplication) {
    for (const Words& x : inputs()) {
        ASSERT_EQ(sqr(x, FieldBackend::kAdx), sqr(x, FieldBackend::kPortable)) << x;
        ASSERT_EQ(sqr(x, FieldBackend::kAdx), mul(x, x, FieldBackend::kAdx)) << x;
    }
}

TEST_F(Sm2FieldBackendTest, RandomInputsMatchPortable) {
    struct Case {
        const char* name;
        Words (*draw)(std::mt19937_64&);
    };
    const Case cases[] = {{"uniform", random_words}, {"edgy", random_edgy}};
    std::mt19937_64 rng(20261210);
    for (const Case& c : cases) {
        for (int i = 0; i < 100000; ++i) {
            const Words x = c.draw(rng), y = c.draw(rng);
            ASSERT_EQ(mul(x, y, FieldBackend::kAdx), mul(x, y, FieldBackend::kPortable))
                << c.name << ": " << x << " * " << y;
            ASSERT_EQ(sqr(x, FieldBackend::kAdx), sqr(x, FieldBackend::kPortable))
                << c.name << ": " << x;
        }
    }
}

// Long chains of squarings and products stay on one track (each output is the next input).
TEST_F(Sm2FieldBackendTest, ChainedOperationsMatchPortable) {
    for (const Words& start : kEdges) {
        Words a = start, b = start, k = {{3, 5, 7, 11}};
        for (int i = 0; i < 2000; ++i) {
            a = (i % 3 == 0) ? mul(a, k, FieldBackend::kAdx) : sqr(a, FieldBackend::kAdx);
            b = (i % 3 == 0) ? mul(b, k, FieldBackend::kPortable) : sqr(b, FieldBackend::kPortable);
            ASSERT_EQ(a, b) << "from " << start << " at step " << i;
        }
    }
}

TEST(Sm2FieldBackend, ForcingSwitchesTheActiveBackend) {
    const FieldBackend before = fast::field_backend();
    EXPECT_TRUE(fast::field_backend_supported(FieldBackend::kPortable));
    ASSERT_TRUE(fast::force_field_backend(FieldBackend::kPortable));
    EXPECT_EQ(fast::field_backend(), FieldBackend::kPortable);
    if (fast::field_backend_supported(FieldBackend::kAdx)) {
        ASSERT_TRUE(fast::force_field_backend(FieldBackend::kAdx));
        EXPECT_EQ(fast::field_backend(), FieldBackend::kAdx);
    } else {
        EXPECT_FALSE(fast::force_field_backend(FieldBackend::kAdx));
        EXPECT_EQ(fast::field_backend(), FieldBackend::kPortable);
    }
    ASSERT_TRUE(fast::force_field_backend(before));
}

#if defined(HALDEN_SM2_FIELD_PORTABLE)
class PortableFieldEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(fast::force_field_backend(FieldBackend::kPortable)); }
};

const testing::Environment* const kPortableField =
    testing::AddGlobalTestEnvironment(new PortableFieldEnvironment);

TEST(Sm2FieldBackend, PortableBackendIsForcedForThisProgram) {
    EXPECT_EQ(fast::field_backend(), FieldBackend::kPortable);
}
#endif

}  // namespace
