#include "softcard/selftest.h"

#include <cstdio>
#include <cstring>

#include "base/byte_access.h"
#include "crypto/hex.h"
#include "crypto/random.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "softcard/admin_key.h"
#include "softcard/exports.h"
#include "softcard/keys.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/wipe.h"

namespace {

constexpr char kDefaultPin[] = "58302741";
constexpr char kWrongPin[] = "27195038";
constexpr char kNewPin[] = "91640275";
constexpr int32_t kPinLength = 8;
constexpr int kWrongTries = 6;
constexpr uint32_t kMacDumpSize = 96;

// Only these routines hold the administrator's private key.
constexpr uint8_t kAdminPrivateKey[32] = {
    0x4a, 0x8e, 0x2c, 0x71, 0xf0, 0x9b, 0x3d, 0x56, 0xe1, 0x2a, 0x7c, 0x48, 0xb9, 0x05, 0xf3, 0xd6,
    0xa1, 0x7e, 0x40, 0xc2, 0x9b, 0x5d, 0x83, 0xf6, 0xe2, 0x07, 0x9a, 0x1c, 0x54, 0xb8, 0xd3, 0x6f,
};

constexpr uint8_t kTestVolumeKey[32] = {
    0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01,
    0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0,
};

constexpr uint8_t kTestMessage[32] = {
    0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x6b, 0x6c, 0x6d, 0x6e, 0x6f, 0x70,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
};

const uint8_t* pin_bytes(const char* pin) {
    return reinterpret_cast<const uint8_t*>(pin);
}

// True when a step's result is SC_OK; otherwise prints "<failure>[<result>]" and gives false.
bool checked(uint32_t result, const char* failure) {
    if (result == SC_OK) return true;
    std::printf("%s[%08x]\n", failure, result);
    return false;
}

struct CardInfoView {
    uint8_t bytes[CARD_INFO_SIZE];
    uint8_t status() const { return bytes[CARD_INFO_STATE]; }
    const char* serial() const { return reinterpret_cast<const char*>(bytes + CARD_INFO_SERIAL); }
    int serial_length() const {
        return static_cast<int>(bytes::load_le32(bytes + CARD_INFO_SERIAL_LENGTH));
    }
};

// Signs message with the administrator's key pair into signature; false when signing fails.
bool admin_sign(const uint8_t* message, uint32_t length, uint8_t* signature) {
    return sm2_sign(kAdminPrivateKey, kAdminPublicKey, message, length, signature) == 0;
}

bool begin_with_fresh_card() {
    if (!checked(init_cfg(), "init_cfg err")) return false;
    if (!checked(init_card(), "init_card err")) return false;
    std::printf("init_card ok\n");
    return true;
}

// Prints the verdict, then leaves the process logged out on a fresh card.
void finish(bool passed, const char* ok, const char* fail) {
    std::printf("%s", passed ? ok : fail);
    QeltCardLoginOut();
    init_cfg();
}

void wrong_pin_six_times(uint32_t* tries_left) {
    for (int attempt = 0; attempt < kWrongTries; ++attempt) {
        const uint32_t result = QeltVerifyPinCode(pin_bytes(kWrongPin), kPinLength, tries_left);
        if (result != SC_OK) std::printf("QeltVerifyPinCode err[%d][%08x]\n", attempt, result);
        std::printf("leftretrycnt[%lu]\n", static_cast<unsigned long>(*tries_left));
    }
}

bool run_sm2() {
    if (!checked(init_cfg(), "init_cfg err")) return false;
    DerivedKeyPairs pairs;
    WipeOnExit wipe(pairs);
    if (!checked(get_dkp(&pairs), "get_dkp err")) return false;
    CardInfoView info{};
    if (!checked(QeltQueryCardInfo(info.bytes), "QeltQueryCardInfo err")) return false;
    std::printf("QeltQueryCardInfo befor init OK, len[%d]sn[%s]stat[%02x]\n", info.serial_length(),
                info.serial(), info.status());
    if (!checked(init_card(), "init_card err")) return false;
    std::printf("init_card ok\n");
    if (!checked(QeltQueryCardInfo(info.bytes), "QeltQueryCardInfo err")) return false;
    std::printf("QeltQueryCardInfo after init OK, len[%d]sn[%s]stat[%02x]\n", info.serial_length(),
                info.serial(), info.status());
    uint8_t sign_public[64];
    uint8_t enc_public[64];
    if (!checked(QeltExportPubkeys(sign_public, enc_public), "QeltExportPubkeys err")) return false;
    std::printf("QeltExportPubkeys ok\n");
    uint8_t signature[SM2_SIGNATURE_SIZE];
    if (!checked(QeltSm2SignIn(kTestMessage, sizeof kTestMessage, signature), "QeltSm2SignIn err"))
        return false;
    std::printf("QeltExportPubkeys ok\n");
    if (sm2_verify(pairs.sign_public, kTestMessage, sizeof kTestMessage, signature) != 0) {
        std::printf("sm2_verify err\n");
        return false;
    }
    return true;
}

bool run_ev() {
    if (!begin_with_fresh_card()) return false;
    uint8_t sign_public[64];
    uint8_t enc_public[64];
    if (!checked(QeltExportPubkeys(sign_public, enc_public), "QeltExportPubkeys err")) return false;
    std::printf("QeltExportPubkeys ok\n");
    const uint32_t result = QeltEvEncFile(enc_public, "E:/test_pt.docx", "E:/test_pt.docx.ev");
    if (!checked(result, "QeltEvEncFile err")) return false;
    std::printf("QeltEvEncFile ok\n");
    if (!checked(QeltEvDecFile("E:/test_pt.docx.ev", "E:/test_pt_check.docx"), "QeltEvDecFile err"))
        return false;
    std::printf("QeltEvDecFile ok\n");
    return true;
}

struct SignedChallenge {
    uint8_t challenge[CHALLENGE_SIZE] = {};
    uint8_t extra[EXTRA_SIZE] = {};
    uint8_t signature[SM2_SIGNATURE_SIZE] = {};
};

// Draws extra and signs challenge || middle || extra as the administrator.
bool sign_challenge(SignedChallenge* signed_challenge, const uint8_t* middle,
                    uint32_t middle_size) {
    if (get_random(signed_challenge->extra, sizeof signed_challenge->extra) != 0) return false;
    uint8_t message[CHALLENGE_SIZE + PIN_FIELD_SIZE + EXTRA_SIZE];
    uint32_t length = 0;
    std::memcpy(message, signed_challenge->challenge, CHALLENGE_SIZE);
    length += CHALLENGE_SIZE;
    if (middle_size > 0) std::memcpy(message + length, middle, middle_size);
    length += middle_size;
    std::memcpy(message + length, signed_challenge->extra, sizeof signed_challenge->extra);
    length += sizeof signed_challenge->extra;
    return admin_sign(message, length, signed_challenge->signature);
}

// Prints the card's status with ok_format; false, with the failure printed, when it is unreadable.
bool query_status(const char* failure, const char* ok_format) {
    CardInfoView info{};
    if (!checked(QeltQueryCardInfo(info.bytes), failure)) return false;
    std::printf(ok_format, info.status());
    return true;
}

bool run_lock() {
    if (!begin_with_fresh_card()) return false;
    QeltCardLoginOut();
    if (!query_status("QeltQueryCardInfo err1", "QeltCardInfo1 [%02x]\n")) return false;
    uint32_t tries_left = 0;
    wrong_pin_six_times(&tries_left);
    if (!query_status("QeltQueryCardInfo err2", "QeltCardInfo2 [%02x]\n")) return false;
    uint32_t result = QeltVerifyPinCode(pin_bytes(kDefaultPin), kPinLength, &tries_left);
    checked(result, "QeltVerifyPinCode err2");
    std::printf("leftretrycnt[%lu]\n", static_cast<unsigned long>(tries_left));
    SignedChallenge signed_challenge;
    if (!checked(QeltGetChallengeCode(signed_challenge.challenge), "QeltGetChallengeCode err"))
        return false;
    if (!sign_challenge(&signed_challenge, nullptr, 0)) return false;
    result = QeltUnlockCard(signed_challenge.challenge, signed_challenge.extra,
                            signed_challenge.signature);
    if (!checked(result, "QeltUnlockCard err")) return false;
    if (!query_status("QeltQueryCardInfo err3", "QeltCardInfo3 [%02x]\n")) return false;
    result = QeltVerifyPinCode(pin_bytes(kDefaultPin), kPinLength, &tries_left);
    if (!checked(result, "QeltVerifyPinCode err3")) return false;
    std::printf("QeltVerifyPinCode ok\n");
    result = QeltSetPinCode(pin_bytes(kDefaultPin), kPinLength, pin_bytes(kNewPin), kPinLength,
                            &tries_left);
    if (!checked(result, "QeltSetPinCode err")) return false;
    std::printf("QeltSetPinCode ok\n");
    if (!checked(QeltCardLoginOut(), "QeltCardLoginOut err")) return false;
    std::printf("QeltCardLoginOut ok\n");
    result = QeltVerifyPinCode(pin_bytes(kNewPin), kPinLength, &tries_left);
    if (!checked(result, "QeltVerifyPinCode err4")) return false;
    std::printf("QeltVerifyPinCode ok\n");
    return true;
}

bool run_reset_pin() {
    if (!begin_with_fresh_card()) return false;
    uint32_t tries_left = 0;
    wrong_pin_six_times(&tries_left);
    uint32_t result = QeltVerifyPinCode(pin_bytes(kDefaultPin), kPinLength, &tries_left);
    checked(result, "QeltVerifyPinCode err2");
    std::printf("leftretrycnt[%lu]\n", static_cast<unsigned long>(tries_left));
    SignedChallenge signed_challenge;
    checked(QeltGetChallengeCode(signed_challenge.challenge), "QeltGetChallengeCode err");
    uint8_t new_pin[PIN_FIELD_SIZE] = {};
    std::memcpy(new_pin, kNewPin, kPinLength);
    if (!sign_challenge(&signed_challenge, new_pin, sizeof new_pin)) return false;
    result = QeltResetPin(signed_challenge.challenge, signed_challenge.extra, new_pin,
                          signed_challenge.signature);
    if (!checked(result, "QeltResetPin err")) return false;
    result = QeltVerifyPinCode(pin_bytes(kNewPin), kPinLength, &tries_left);
    if (!checked(result, "QeltVerifyPinCode err3")) return false;
    std::printf("test ok\n");
    return true;
}

bool bind_pass(int pass) {
    CardInfoView info{};
    if (!checked(QeltQueryCardInfo(info.bytes), "QeltQueryCardInfo err")) return false;
    std::printf("QeltQueryCardInfo%d OK, len[%d]sn[%s]stat[%02x]\n", pass, info.serial_length(),
                info.serial(), info.status());
    uint32_t cur_index = 0;
    uint32_t has_count = 0;
    uint32_t left_count = 0;
    // The dump shows 96 bytes, more than the 30 of the list, so the buffer holds them all.
    uint8_t macs[kMacDumpSize] = {};
    const uint32_t result = QeltQueryBindedMac(&cur_index, &has_count, &left_count, macs);
    if (!checked(result, "QeltQueryBindedMac err")) return false;
    std::printf("QeltQueryBindedMac%d OK, curBindIndex[%d]hasBindCnt[%d]leftBindCnt[%d]\n", pass,
                static_cast<int>(cur_index), static_cast<int>(has_count),
                static_cast<int>(left_count));
    hex_dump(macs, sizeof macs, "hasBindMac");
    return true;
}

bool run_bind() {
    if (!begin_with_fresh_card()) return false;
    if (!bind_pass(1)) return false;
    uint8_t mac[MAC_ADDRESS_SIZE];
    if (!checked(get_mac(mac), "get_mac err")) return false;
    if (!checked(QeltUnbindMac(mac), "QeltUnbindMac err")) return false;
    std::printf("QeltUnbindMac ok\n");
    if (!bind_pass(2)) return false;
    if (!checked(QeltBindCurMac(), "QeltBindCurMac err")) return false;
    std::printf("QeltBindCurMac ok\n");
    return bind_pass(3);
}

}  // namespace

uint32_t init_card() {
    uint8_t record[STORE_RECORD_SIZE];
    WipeOnExit wipe_record(record);
    uint32_t result = get_cfg(record);
    if (!checked(result, "get_cfg err")) return result;
    DerivedKeyPairs pairs;
    WipeOnExit wipe_pairs(pairs);
    result = get_dkp(&pairs);
    if (!checked(result, "get_dkp err")) return result;
    uint32_t tries_left = 0;
    result = QeltVerifyPinCode(pin_bytes(kDefaultPin), kPinLength, &tries_left);
    if (result == SC_PIN_OK_NOT_BOUND) {
        std::printf("verify pin ok but not bind\n");
    } else if (!checked(result, "QeltVerifyPinCode err")) {
        return result;
    }
    result = QeltBindCurMac();
    if (!checked(result, "QeltBindCurMac err")) return result;
    uint8_t wrapped[STORE_VOLUME_KEY_SIZE + SM2_CIPHERTEXT_OVERHEAD];
    if (sm2_encrypt(pairs.enc_public, kTestVolumeKey, sizeof kTestVolumeKey, wrapped, nullptr) != 0)
        return SC_FAIL;
    result = QeltImportKey(wrapped, sizeof wrapped);
    if (!checked(result, "QeltImportKey err")) return result;
    uint8_t key[STORE_VOLUME_KEY_SIZE];
    WipeOnExit wipe_key(key);
    uint32_t key_length = 0;
    result = get_key(key, &key_length);
    if (!checked(result, "get_key err")) return result;
    if (std::memcmp(key, kTestVolumeKey, sizeof key) != 0) {
        std::printf("key cmp err\n");
        return SC_FAIL;
    }
    return SC_OK;
}

void test_sm2() {
    finish(run_sm2(), "test_sm2 ok!\n\n", "test_sm2 FAIL!\n\n");
}
void test_ev() {
    finish(run_ev(), "test_ev OK!\n\n", "test_ev FAIL!\n\n");
}
void test_lock() {
    finish(run_lock(), "test_lock OK!\n\n", "test_lock FAIL!\n\n");
}
void test_reset_pin() {
    finish(run_reset_pin(), "test_reset_pin OK!\n\n", "test_reset_pin FAIL!\n\n");
}
void test_bind() {
    finish(run_bind(), "test_bind OK!\n\n", "test_bind FAIL!\n\n");
}

KELVANE_EXPORT void test() try {
    test_sm2();
    test_ev();
    test_lock();
    test_reset_pin();
    test_bind();
    std::fflush(stdout);
} catch (...) {
    std::fflush(stdout);
}
