// The V2 container: a key derived from a PIN and a salt drawn from the card, every block through
// FPGA data frames on one card link held, with the card lock, for the whole file. A failed call
// removes the output file that it created.
#include <cstring>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/commands/key_slots.h"
#include "card/containers/container_format.h"
#include "card/containers/container_messages.h"
#include "card/containers/container_steps.h"
#include "card/containers/fpga_frame.h"
#include "card/containers/pin_key.h"
#include "card/exchange/failures.h"
#include "card/exchange/held_card_link.h"
#include "card/exchange/result.h"
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
class FpgaBlocks {
  public:
    FpgaBlocks(const HeldCardLink& link, uint32_t slot, uint8_t encrypt)
        : link_(link), slot_(slot), encrypt_(encrypt) {}
    uint32_t operator()(const uint8_t* in, uint8_t* out) const {
        return static_cast<uint32_t>(
            brel_xts_fpga_dev(link_.get(), slot_, kZeroTweak, in, kBlockSize, out, encrypt_));
    }

  private:
    const HeldCardLink& link_;
    const uint32_t slot_;
    const uint8_t encrypt_;
};

constexpr char kBlockFailure[] = "brel_xts_fpga err[%d]";

// The state of one call that its ending undoes: the files, the held link and lock, the slot.
struct Call {
    explicit Call(LogSite call_site) : site(call_site) {}

    const LogSite site;  // the export's
    ContainerFiles files;
    HeldCardLink link;
    uint32_t slot = 0;

    // Closes the files, then the link with the lock, then releases the slot; a failure removes
    // the output file, when this call created it.
    uint32_t end(uint32_t result, const char* output_path) {
        files.close();
        link.close();
        release_slot(slot);
        if (result != CARD_OK && files.output_opened()) DeleteFileA(output_path);
        return result;
    }
};

uint32_t write_container(const char* pin, const char* pt_path, const char* ct_path, Call& call) {
    const LogSite site = call.site;
    uint32_t result = call.files.open_for_encryption(site, pt_path, ct_path);
    if (result != CARD_OK) return result;
    FILE* container = call.files.container();
    result = write_name_field(site, container, pt_path);
    if (result != CARD_OK) return result;
    uint8_t salt[v2::kSaltSize];
    result = brel_gen_random(salt, sizeof salt);
    if (result != CARD_OK) {
        LOG_FAILURE(site, "ret[%d]", static_cast<int>(result));
        return result;
    }
    uint8_t mac[v2::kMacSize];
    result = gen_key(pin, salt, &call.slot, mac);
    if (result != CARD_OK) {
        LOG_FAILURE(site, "ret[%d]", static_cast<int>(result));
        return result;
    }
    result = write_header_field(site, container, salt, sizeof salt, "write salt err, cnt[%d]");
    if (result != CARD_OK) return result;
    result = write_header_field(site, container, mac, sizeof mac, "write mac err, cnt[%d]");
    if (result != CARD_OK) return result;
    result = call.link.open(site);
    if (result != CARD_OK) return result;
    const FpgaBlocks blocks(call.link, call.slot, 1);
    return encrypt_blocks(site, call.files.plaintext(), container,
                          block_path(blocks, kBlockFailure));
}

uint32_t read_container(const char* pin, const char* ct_path, const char* pt_path, Call& call) {
    const LogSite site = call.site;
    uint32_t result = call.files.open_for_decryption(site, ct_path, pt_path);
    if (result != CARD_OK) return result;
    FILE* container = call.files.container();
    uint64_t blocks_length = 0;
    result = container_blocks_length(site, container, v2::kHeaderSize, &blocks_length);
    if (result != CARD_OK) return result;
    // The name field is not read.
    _fseeki64(container, v2::kSaltOffset, SEEK_SET);
    uint8_t salt[v2::kSaltSize];
    result = read_header_field(site, container, salt, sizeof salt, MSG_READ_SALT_FAILED);
    if (result != CARD_OK) return result;
    uint8_t computed[v2::kMacSize];
    result = gen_key(pin, salt, &call.slot, computed);
    if (result != CARD_OK) {
        LOG_FAILURE(site, "ret[%d]", static_cast<int>(result));
        return result;
    }
    uint8_t stored[v2::kMacSize];
    result = read_header_field(site, container, stored, sizeof stored, MSG_READ_MAC_FAILED);
    if (result != CARD_OK) return result;
    if (!crypto_internal::ct_bytes_eq_mask(computed, stored, sizeof stored)) {
        LOG_FAILURE(site, MSG_PIN_WRONG);
        return CARD_PIN_MISMATCH;
    }
    result = call.link.open(site);
    if (result != CARD_OK) return result;
    const FpgaBlocks blocks(call.link, call.slot, 0);
    return decrypt_blocks(site, container, call.files.plaintext(), blocks_length,
                          block_path(blocks, kBlockFailure));
}

}  // namespace

KELVANE_EXPORT uint32_t QeltEvEncFile_V2(const char* pin, const char* ptFileName,
                                         const char* ctFileName) try {
    const LogSite site = LOG_SITE;
    LOG_NOTE(site, "enc start");
    if (!arguments_ok(pin, ptFileName, ctFileName)) return invalid_argument(site);
    Call call(site);
    const uint32_t result = call.end(
        guarded_steps(site, [&] { return write_container(pin, ptFileName, ctFileName, call); }),
        ctFileName);
    LOG_NOTE(site, "enc over");
    return result;
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltEvDecFile_V2(const char* pin, const char* ctFileName,
                                         const char* ptFileName) try {
    const LogSite site = LOG_SITE;
    LOG_NOTE(site, "dec start");
    if (!arguments_ok(pin, ctFileName, ptFileName)) return invalid_argument(site);
    Call call(site);
    const uint32_t result = call.end(
        guarded_steps(site, [&] { return read_container(pin, ctFileName, ptFileName, call); }),
        ptFileName);
    LOG_NOTE(site, "dec over");
    return result;
} catch (...) {
    return out_of_memory(LOG_SITE);
}
