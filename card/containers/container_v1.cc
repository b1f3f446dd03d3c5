// The V1 container: a file key that the card makes and wraps under the caller's public key, every
// block through the card's key slot, either as card commands 0x733 and 0x734 or as FPGA data
// frames. Both block paths write the same file.
#include "card/card_api.h"
#include "card/commands/key_slots.h"
#include "card/containers/container_format.h"
#include "card/containers/container_messages.h"
#include "card/containers/container_steps.h"
#include "card/containers/fpga_frame.h"
#include "card/exchange/failures.h"
#include "card/exchange/result.h"

namespace {

using container::kBlockSize;
namespace v1 = container::v1;

constexpr uint8_t kZeroTweak[XTS_TWEAK_SIZE] = {};

// How a V1 container's blocks go through the card's slot.
struct SlotBlocks {
    uint32_t (*encrypt)(uint32_t slot, const uint8_t* in, uint8_t* out);
    uint32_t (*decrypt)(uint32_t slot, const uint8_t* in, uint8_t* out);
    const char* encrypt_failure;
    const char* decrypt_failure;
};

const SlotBlocks kCardCommands = {
    [](uint32_t slot, const uint8_t* in, uint8_t* out) {
        return brel_xts_enc(slot, kZeroTweak, in, kBlockSize, out);
    },
    [](uint32_t slot, const uint8_t* in, uint8_t* out) {
        return brel_xts_dec(slot, kZeroTweak, in, kBlockSize, out);
    },
    "brel_xts_enc err[%d]",
    "sm4_xts_decrypt err[%d]",
};

const SlotBlocks kFpgaFrames = {
    [](uint32_t slot, const uint8_t* in, uint8_t* out) {
        return brel_xts_fpga(slot, kZeroTweak, in, kBlockSize, out, 1);
    },
    [](uint32_t slot, const uint8_t* in, uint8_t* out) {
        return brel_xts_fpga(slot, kZeroTweak, in, kBlockSize, out, 0);
    },
    "brel_xts_fpga err[%d]",
    "brel_xts_fpga err[%d]",
};

// From opening the files to the last block; a slot that the card filled is the caller's to
// release.
uint32_t write_container(LogSite site, const uint8_t* pke, const char* pt_path, const char* ct_path,
                         const SlotBlocks& blocks, ContainerFiles& files, uint32_t& slot) {
    uint32_t result = files.open_for_encryption(site, pt_path, ct_path);
    if (result != CARD_OK) return result;
    result = write_name_field(site, files.container(), pt_path);
    if (result != CARD_OK) return result;
    uint8_t csk[v1::kCskSize];
    result = brel_gen_wrapped_sk(pke, csk, &slot);
    if (result != CARD_OK) {
        LOG_FAILURE(site, "ret[%d]", static_cast<int>(result));
        return result;
    }
    result =
        write_header_field(site, files.container(), pke, v1::kPkeSize, "write pke err, cnt[%d]");
    if (result != CARD_OK) return result;
    result =
        write_header_field(site, files.container(), csk, v1::kCskSize, "write skCt err, cnt[%d]");
    if (result != CARD_OK) return result;
    const auto crypt = [&](const uint8_t* in, uint8_t* out) {
        return blocks.encrypt(slot, in, out);
    };
    return encrypt_blocks(site, files.plaintext(), files.container(),
                          block_path(crypt, blocks.encrypt_failure));
}

uint32_t read_container(LogSite site, const char* ct_path, const char* pt_path,
                        const SlotBlocks& blocks, ContainerFiles& files, uint32_t& slot) {
    uint32_t result = files.open_for_decryption(site, ct_path, pt_path);
    if (result != CARD_OK) return result;
    uint64_t blocks_length = 0;
    result = container_blocks_length(site, files.container(), v1::kHeaderSize, &blocks_length);
    if (result != CARD_OK) return result;
    std::rewind(files.container());
    // The name and the public key are read and not used: the output path is the caller's.
    uint8_t header[v1::kHeaderSize] = {};
    result = read_header_field(site, files.container(), header + container::kNameOffset,
                               container::kNameSize, MSG_READ_FN_FAILED);
    if (result != CARD_OK) return result;
    result = read_header_field(site, files.container(), header + v1::kPkeOffset, v1::kPkeSize,
                               MSG_READ_PKE_FAILED);
    if (result != CARD_OK) return result;
    result = read_header_field(site, files.container(), header + v1::kCskOffset, v1::kCskSize,
                               MSG_READ_CSK_FAILED);
    if (result != CARD_OK) return result;
    result = brel_import_sk(header + v1::kCskOffset, &slot);
    if (result != CARD_OK) {
        LOG_FAILURE(site, "brel_import_sk err[%d]", static_cast<int>(result));
        return result;
    }
    const auto crypt = [&](const uint8_t* in, uint8_t* out) {
        return blocks.decrypt(slot, in, out);
    };
    return decrypt_blocks(site, files.container(), files.plaintext(), blocks_length,
                          block_path(crypt, blocks.decrypt_failure));
}

// The exports' ending: the files closed, the slot released. A container left incomplete by a
// failure stays.
uint32_t encrypt_file(LogSite site, const uint8_t* pke, const char* pt_path, const char* ct_path,
                      const SlotBlocks& blocks) {
    if (!pke || !container_path_ok(pt_path) || !container_path_ok(ct_path))
        return invalid_argument(site);
    ContainerFiles files;
    uint32_t slot = 0;
    const uint32_t result = guarded_steps(
        site, [&] { return write_container(site, pke, pt_path, ct_path, blocks, files, slot); });
    files.close();
    release_slot(slot);
    return result;
}

uint32_t decrypt_file(LogSite site, const char* ct_path, const char* pt_path,
                      const SlotBlocks& blocks) {
    if (!container_path_ok(ct_path) || !container_path_ok(pt_path)) return invalid_argument(site);
    ContainerFiles files;
    uint32_t slot = 0;
    const uint32_t result = guarded_steps(
        site, [&] { return read_container(site, ct_path, pt_path, blocks, files, slot); });
    files.close();
    release_slot(slot);
    return result;
}

}  // namespace

KELVANE_EXPORT uint32_t QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                      const char* ctFileName) try {
    return encrypt_file(LOG_SITE, pke, ptFileName, ctFileName, kCardCommands);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName) try {
    return decrypt_file(LOG_SITE, ctFileName, ptFileName, kCardCommands);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltEvEncFile_FPGA(const uint8_t* pke, const char* ptFileName,
                                           const char* ctFileName) try {
    return encrypt_file(LOG_SITE, pke, ptFileName, ctFileName, kFpgaFrames);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltEvDecFile_FPGA(const char* ctFileName, const char* ptFileName) try {
    const LogSite site = LOG_SITE;
    LOG_NOTE(site, "ctFileName[%s],ptFileName[%s]", ctFileName ? ctFileName : "(null)",
             ptFileName ? ptFileName : "(null)");
    return decrypt_file(site, ctFileName, ptFileName, kFpgaFrames);
} catch (...) {
    return out_of_memory(LOG_SITE);
}
