// SM2 signatures and ciphertexts exchanged with OpenSSL 3.0 in both directions.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kDefaultId = {'1', '2', '3', '4', '5', '6', '7', '8',
                          '1', '2', '3', '4', '5', '6', '7', '8'};

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("OpenSSL: ") + what);
}

// An OpenSSL SM2 key from our encodings (priv may be empty for a public key only).
Pkey openssl_key(const Bytes& priv, const uint8_t* pub) {
    Bytes point = {0x04};
    point.insert(point.end(), pub, pub + 64);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    BIGNUM* d = nullptr;
    check(OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0), "group");
    check(
        OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
        "pub");
    if (!priv.empty()) {
        d = BN_bin2bn(priv.data(), static_cast<int>(priv.size()), nullptr);
        check(OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d), "priv");
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    check(ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1, "fromdata init");
    check(EVP_PKEY_fromdata(ctx.get(), &key, priv.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR,
                            params) == 1,
          "fromdata");
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(d);
    return Pkey(key);
}

// ---- DER: SEQUENCE { INTEGER r, INTEGER s } and SEQUENCE { INTEGER x, INTEGER y, OCTET
// STRING C3, OCTET STRING C2 } ----

void der_length(Bytes& out, size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<uint8_t>(len));
        return;
    }
    Bytes digits;
    for (; len != 0; len >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(len));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

void der_item(Bytes& out, uint8_t tag, const Bytes& body) {
    out.push_back(tag);
    der_length(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
}

void der_integer(Bytes& out, const uint8_t* be32) {
    size_t skip = 0;
    while (skip < 31 && be32[skip] == 0) ++skip;
    Bytes body(be32 + skip, be32 + 32);
    if (body[0] & 0x80) body.insert(body.begin(), 0);
    der_item(out, 0x02, body);
}

Bytes der_sequence(const Bytes& body) {
    Bytes out;
    der_item(out, 0x30, body);
    return out;
}

struct DerReader {
    const Bytes& der;
    size_t pos = 0;

    Bytes item(uint8_t tag) {
        check(pos < der.size() && der[pos] == tag, "DER tag");
        ++pos;
        size_t len = der.at(pos++);
        if (len & 0x80) {
            const size_t n = len & 0x7F;
            len = 0;
            for (size_t i = 0; i < n; ++i) len = (len << 8) | der.at(pos++);
        }
        check(pos + len <= der.size(), "DER length");
        Bytes body(der.begin() + pos, der.begin() + pos + len);
        pos += len;
        return body;
    }
    // An INTEGER as 32 big-endian bytes.
    Bytes integer32() {
        Bytes body = item(0x02);
        while (body.size() > 32 && body[0] == 0) body.erase(body.begin());
        check(body.size() <= 32, "integer too long");
        Bytes out(32 - body.size(), 0);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};

Bytes signature_to_der(const uint8_t* sig) {
    Bytes body;
    der_integer(body, sig);
    der_integer(body, sig + 32);
    return der_sequence(body);
}

Bytes signature_from_der(const Bytes& der) {
    DerReader outer{der};
    const Bytes body = outer.item(0x30);
    DerReader inner{body};
    Bytes sig = inner.integer32();
    const Bytes s = inner.integer32();
    sig.insert(sig.end(), s.begin(), s.end());
    return sig;
}

// C1 || C3 || C2 to OpenSSL's DER form and back.
Bytes ciphertext_to_der(const Bytes& ct) {
    Bytes body;
    der_integer(body, ct.data());
    der_integer(body, ct.data() + 32);
    der_item(body, 0x04, Bytes(ct.begin() + 64, ct.begin() + 96));
    der_item(body, 0x04, Bytes(ct.begin() + 96, ct.end()));
    return der_sequence(body);
}

Bytes ciphertext_from_der(const Bytes& der) {
    DerReader outer{der};
    const Bytes body = outer.item(0x30);
    DerReader inner{body};
    Bytes ct = inner.integer32();
    const Bytes y = inner.integer32(), c3 = inner.item(0x04), c2 = inner.item(0x04);
    ct.insert(ct.end(), y.begin(), y.end());
    ct.insert(ct.end(), c3.begin(), c3.end());
    ct.insert(ct.end(), c2.begin(), c2.end());
    return ct;
}

// ---- OpenSSL operations ----

// A digest context with the default ID set; the key context is kept by the caller, since a
// context given with EVP_MD_CTX_set_pkey_ctx stays the caller's to free (after the digest's).
struct DigestCtx {
    PkeyCtx pctx;
    MdCtx md;
};

DigestCtx digest_ctx(EVP_PKEY* key, bool sign) {
    DigestCtx c{PkeyCtx(EVP_PKEY_CTX_new(key, nullptr)), MdCtx(EVP_MD_CTX_new())};
    check(EVP_PKEY_CTX_set1_id(c.pctx.get(), kDefaultId.data(), kDefaultId.size()) == 1, "id");
    EVP_MD_CTX_set_pkey_ctx(c.md.get(), c.pctx.get());
    const int ok = sign ? EVP_DigestSignInit(c.md.get(), nullptr, EVP_sm3(), nullptr, key)
                        : EVP_DigestVerifyInit(c.md.get(), nullptr, EVP_sm3(), nullptr, key);
    check(ok == 1, "digest init");
    return c;
}

bool openssl_verify(EVP_PKEY* key, const Bytes& msg, const Bytes& der) {
    DigestCtx c = digest_ctx(key, false);
    return EVP_DigestVerify(c.md.get(), der.data(), der.size(), msg.data(), msg.size()) == 1;
}

Bytes openssl_sign(EVP_PKEY* key, const Bytes& msg) {
    DigestCtx c = digest_ctx(key, true);
    size_t len = 0;
    check(EVP_DigestSign(c.md.get(), nullptr, &len, msg.data(), msg.size()) == 1, "sign size");
    Bytes der(len);
    check(EVP_DigestSign(c.md.get(), der.data(), &len, msg.data(), msg.size()) == 1, "sign");
    der.resize(len);
    return der;
}

Bytes openssl_encrypt(EVP_PKEY* key, const Bytes& msg) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    check(EVP_PKEY_encrypt_init(ctx.get()) == 1, "encrypt init");
    size_t len = 0;
    check(EVP_PKEY_encrypt(ctx.get(), nullptr, &len, msg.data(), msg.size()) == 1, "size");
    Bytes der(len);
    check(EVP_PKEY_encrypt(ctx.get(), der.data(), &len, msg.data(), msg.size()) == 1, "encrypt");
    der.resize(len);
    return der;
}

bool openssl_decrypt(EVP_PKEY* key, const Bytes& der, Bytes* plain) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    check(EVP_PKEY_decrypt_init(ctx.get()) == 1, "decrypt init");
    size_t len = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &len, der.data(), der.size()) != 1) return false;
    plain->resize(len);
    if (EVP_PKEY_decrypt(ctx.get(), plain->data(), &len, der.data(), der.size()) != 1) return false;
    plain->resize(len);
    return true;
}

// ---- fixture: one key pair of ours, the same key in OpenSSL ----

class Sm2WithOpenssl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sm2_make_keypair(priv.data(), pub.data()), 0);
        key = openssl_key(Bytes(priv.begin(), priv.end()), pub.data());
        public_only = openssl_key({}, pub.data());
    }

    static Bytes message(size_t len, uint8_t seed) {
        Bytes m(len);
        for (size_t i = 0; i < len; ++i) m[i] = static_cast<uint8_t>(seed + i * 13);
        return m;
    }

    std::array<uint8_t, 32> priv{};
    std::array<uint8_t, 64> pub{};
    Pkey key, public_only;
};

const size_t kLengths[] = {0, 1, 19, 32, 33, 100, 1000};

TEST_F(Sm2WithOpenssl, OurSignaturesVerifyInOpenssl) {
    for (size_t len : kLengths) {
        const Bytes msg = message(len, static_cast<uint8_t>(len));
        std::array<uint8_t, 64> sig;
        ASSERT_EQ(
            sm2_sign(priv.data(), pub.data(), msg.data(), static_cast<uint32_t>(len), sig.data()),
            0);
        EXPECT_TRUE(openssl_verify(public_only.get(), msg, signature_to_der(sig.data()))) << len;
        // A changed message fails there too, so the check is not vacuous.
        Bytes changed = msg;
        changed.push_back(0);
        EXPECT_FALSE(openssl_verify(public_only.get(), changed, signature_to_der(sig.data())));
    }
}

TEST_F(Sm2WithOpenssl, OpensslSignaturesVerifyHere) {
    for (size_t len : kLengths) {
        const Bytes msg = message(len, static_cast<uint8_t>(3 * len));
        const Bytes sig = signature_from_der(openssl_sign(key.get(), msg));
        EXPECT_EQ(sm2_verify(pub.data(), msg.data(), static_cast<uint32_t>(len), sig.data()), 0)
            << len;
        Bytes changed = sig;
        changed[10] ^= 1;
        EXPECT_NE(sm2_verify(pub.data(), msg.data(), static_cast<uint32_t>(len), changed.data()),
                  0);
    }
}

TEST_F(Sm2WithOpenssl, OurCiphertextsDecryptInOpenssl) {
    for (size_t len : kLengths) {
        if (len == 0) continue;  // OpenSSL refuses an empty C2
        const Bytes msg = message(len, static_cast<uint8_t>(len + 1));
        Bytes ct(len + 96);
        ASSERT_EQ(
            sm2_encrypt(pub.data(), msg.data(), static_cast<uint32_t>(len), ct.data(), nullptr), 0);
        Bytes plain;
        ASSERT_TRUE(openssl_decrypt(key.get(), ciphertext_to_der(ct), &plain)) << len;
        EXPECT_EQ(plain, msg);
    }
}

TEST_F(Sm2WithOpenssl, OpensslCiphertextsDecryptHere) {
    for (size_t len : kLengths) {
        if (len == 0) continue;
        const Bytes msg = message(len, static_cast<uint8_t>(len + 7));
        const Bytes ct = ciphertext_from_der(openssl_encrypt(public_only.get(), msg));
        ASSERT_EQ(ct.size(), len + 96);
        Bytes plain(len);
        uint32_t out_len = 0;
        ASSERT_EQ(sm2_decrypt(priv.data(), ct.data(), static_cast<uint32_t>(ct.size()),
                              plain.data(), &out_len),
                  0)
            << len;
        EXPECT_EQ(out_len, len);
        EXPECT_EQ(plain, msg);
    }
}

}  // namespace
