// The V2 container: a key derived from a PIN and a salt drawn from the card, every block through
// FPGA data frames on one card link held, with the card lock, for the whole file. A failed call
// removes the output file that it created.
#include <cstring>

#include "card/card_api.h"
#include "card/card_random.h"
#include "card/container_format.h"
#include "card/container_messages.h"
#include "card/container_steps.h"
#include "card/fpga_frame.h"
#include "card/held_card_link.h"
#include "card/key_slots.h"
#include "card/log_site.h"
#include "card/pin_key.h"
#include "card/result.h"
#include "crypto/constant_time.h"
#include "platform/win32.h"

namespace {

using container::kBlockSize;
namespace v2 = container::v2;

constexpr uint8_t kZeroTweak[XTS_TWEAK_SIZE] = {};

static_assert(v2::kSaltSize == PIN_KEY_SALT_SIZE && v2::kMacSize == PIN_KEY_MAC_SIZE);

bool arguments_ok(const char* pin, const char* first_path, const char* second_path) {
    if (!pin || !container_path_ok(first_path) || !container_path_ok(second_path)) return false;
    const size_t pin_length = strnlen(pin, PIN_MAX_LENGTH + 1);
    return pin_length >= PIN_MIN_LENGTH && pin_length <= PIN_MAX_LENGTH;
}

// The blocks through the held link, under the slot that holds the derived key.
BlockPath fpga_blocks(const HeldCardLink& link, const uint32_t& slot, uint8_t encrypt) {
    return {[&link, &slot, encrypt](const uint8_t* in, uint8_t* out) {
                return static_cast<uint32_t>(
                    brel_xts_fpga_dev(link.get(), slot, kZeroTweak, in, kBlockSize, out, encrypt));
            },
            "brel_xts_fpga err[%d]"};
}

// The state of one call that its ending undoes: the files, the held link and lock, the slot.
struct Call {
    ContainerFiles files;
    HeldCardLink link;
    uint32_t slot = 0;

    // Closes the files, then the link with the lock, then releases the slot; a failure removes
    // the output file, when this call created it.
    uint32_t end(uint32_t result, const char* output_path) {
        files.close();
        link.close();
        if (slot != 0) brel_free_sk(slot);
        if (result != CARD_OK && files.output_opened()) DeleteFileA(output_path);
        return result;
    }
};

uint32_t write_container(const char* pin, const char* pt_path, const char* ct_path, Call& call) {
    uint32_t result = call.files.open_for_encryption(pt_path, ct_path);
    if (result != CARD_OK) return result;
    FILE* container = call.files.container();
    result = write_name_field(container, pt_path);
    if (result != CARD_OK) return result;
    uint8_t salt[v2::kSaltSize];
    result = brel_gen_random(salt, sizeof salt);
    if (result != CARD_OK) {
        LOG_FAILURE(LOG_SITE, "ret[%d]", static_cast<int>(result));
        return result;
    }
    uint8_t mac[v2::kMacSize];
    result = gen_key(pin, salt, &call.slot, mac);
    if (result != CARD_OK) {
        LOG_FAILURE(LOG_SITE, "ret[%d]", static_cast<int>(result));
        return result;
    }
    result = write_header_field(container, salt, sizeof salt, "write salt err, cnt[%d]");
    if (result != CARD_OK) return result;
    result = write_header_field(container, mac, sizeof mac, "write mac err, cnt[%d]");
    if (result != CARD_OK) return result;
    result = call.link.open();
    if (result != CARD_OK) return result;
    return encrypt_blocks(call.files.plaintext(), container, fpga_blocks(call.link, call.slot, 1));
}

uint32_t read_container(const char* pin, const char* ct_path, const char* pt_path, Call& call) {
    uint32_t result = call.files.open_for_decryption(ct_path, pt_path);
    if (result != CARD_OK) return result;
    FILE* container = call.files.container();
    uint64_t blocks_length = 0;
    result = container_blocks_length(container, v2::kHeaderSize, &blocks_length);
    if (result != CARD_OK) return result;
    // The name field is not read.
    _fseeki64(container, v2::kSaltOffset, SEEK_SET);
    uint8_t salt[v2::kSaltSize];
    result = read_header_field(container, salt, sizeof salt, MSG_READ_SALT_FAILED);
    if (result != CARD_OK) return result;
    uint8_t computed[v2::kMacSize];
    result = gen_key(pin, salt, &call.slot, computed);
    if (result != CARD_OK) {
        LOG_FAILURE(LOG_SITE, "ret[%d]", static_cast<int>(result));
        return result;
    }
    uint8_t stored[v2::kMacSize];
    result = read_header_field(container, stored, sizeof stored, MSG_READ_MAC_FAILED);
    if (result != CARD_OK) return result;
    if (!crypto_internal::ct_bytes_eq_mask(computed, stored, sizeof stored)) {
        LOG_FAILURE(LOG_SITE, MSG_PIN_WRONG);
        return CARD_PIN_MISMATCH;
    }
    result = call.link.open();
    if (result != CARD_OK) return result;
    return decrypt_blocks(container, call.files.plaintext(), blocks_length,
                          fpga_blocks(call.link, call.slot, 0));
}

}  // namespace

KELVANE_EXPORT uint32_t QeltEvEncFile_V2(const char* pin, const char* ptFileName,
                                         const char* ctFileName) {
    LOG_NOTE("enc start");
    if (!arguments_ok(pin, ptFileName, ctFileName)) return invalid_argument(LOG_SITE);
    Call call;
    const uint32_t result =
        call.end(write_container(pin, ptFileName, ctFileName, call), ctFileName);
    LOG_NOTE("enc over");
    return result;
}

KELVANE_EXPORT uint32_t QeltEvDecFile_V2(const char* pin, const char* ctFileName,
                                         const char* ptFileName) {
    LOG_NOTE("dec start");
    if (!arguments_ok(pin, ctFileName, ptFileName)) return invalid_argument(LOG_SITE);
    Call call;
    const uint32_t result = call.end(read_container(pin, ctFileName, ptFileName, call), ptFileName);
    LOG_NOTE("dec over");
    return result;
}
