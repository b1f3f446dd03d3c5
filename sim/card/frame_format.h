// The wire formats the card reads and writes: the command frame with each command's fields, and
// the FPGA data frame. Offsets are from the start of the frame; command payload integers are
// big-endian, header code and payload length little-endian, the FPGA frame little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim::card {

constexpr uint32_t kFrameUnit = 64;  // every frame is a whole number of these

// Rounds up to the frame unit; lengths here stay far below 2^32 - 64.
constexpr uint32_t round_to_unit(uint32_t n) {
    return (n + kFrameUnit - 1) / kFrameUnit * kFrameUnit;
}

// Command frame header, in requests and responses.
namespace header {
constexpr size_t kCode = 0;           // u32 little-endian
constexpr size_t kTag = 4;            // u32 big-endian
constexpr size_t kPayloadLength = 8;  // u32 little-endian: frame length less 16
constexpr size_t kStatus = 12;        // u32 big-endian
constexpr size_t kSize = 16;
constexpr uint32_t kTagValue = 0x535;
}  // namespace header

namespace code {
constexpr uint32_t kQueryCardInfo = 0x720, kVerifyPin = 0x721, kLogout = 0x722, kSetPin = 0x723;
constexpr uint32_t kExportPublicKeys = 0x724, kSign = 0x725, kChallenge = 0x726;
constexpr uint32_t kUnlock = 0x727, kResetPin = 0x728, kMakeWrappedKey = 0x729;
constexpr uint32_t kImportWrappedKey = 0x72A, kFreeKeySlot = 0x72B, kImportVolumeKey = 0x72C;
constexpr uint32_t kRandom = 0x72D, kBind = 0x72E, kUnbind = 0x72F, kQueryBinding = 0x730;
constexpr uint32_t kZeroise = 0x732, kXtsEncrypt = 0x733, kXtsDecrypt = 0x734;
constexpr uint32_t kBackup = 0x735, kRecover = 0x736, kActivate = 0x737;
}  // namespace code

constexpr uint32_t kPinFieldSize = 16;
constexpr uint32_t kPinMinLength = 8, kPinMaxLength = 16;
constexpr uint32_t kMacSize = 6;
constexpr uint32_t kChallengeSize = 16, kExtraSize = 16;
constexpr uint32_t kPublicKeySize = 64, kSignatureSize = 64, kDigestSize = 32;
constexpr uint32_t kWrappedKeySize = 128;  // an SM2 ciphertext of a 32-byte key
constexpr uint32_t kXtsKeySize = 32, kTweakSize = 16;
constexpr uint32_t kMaxDataLength = 4096;  // random bytes and XTS data of one command
constexpr uint32_t kPasswordHashSize = 32, kBackupSize = 304;

// The data lengths a command takes: random bytes 1 to 4096; XTS data whole blocks, 16 to 4096.
constexpr bool random_count_ok(uint32_t count) {
    return count != 0 && count <= kMaxDataLength;
}
constexpr bool xts_length_ok(uint32_t length) {
    return length != 0 && length <= kMaxDataLength && length % 16 == 0;
}

// Field offsets, by command; request and response lengths before rounding.
namespace wire {

namespace card_info {  // 0x720
constexpr size_t kState = 16, kSerial = 73;
constexpr uint32_t kSerialSize = 16;
constexpr uint32_t kRequest = 16, kResponse = 117;
static_assert(kSerial + kSerialSize <= kResponse);
}  // namespace card_info

namespace verify_pin {  // 0x721
constexpr size_t kLength = 16, kPin = 20, kMac = 36;
constexpr uint32_t kRequest = 42, kResponse = 20;
static_assert(kMac + kMacSize == kRequest);
}  // namespace verify_pin

constexpr size_t kTriesLeft = 16;  // response of 0x721 and 0x723 with status 20

namespace set_pin {  // 0x723
constexpr size_t kOldLength = 16, kOldPin = 20, kNewLength = 36, kNewPin = 40;
constexpr uint32_t kRequest = 56, kResponse = 20;
static_assert(kNewPin + kPinFieldSize == kRequest);
}  // namespace set_pin

namespace public_keys {  // 0x724
constexpr size_t kSigning = 16, kEncryption = 80;
constexpr uint32_t kRequest = 16, kResponse = 144;
static_assert(kEncryption + kPublicKeySize == kResponse);
}  // namespace public_keys

namespace sign {  // 0x725
constexpr size_t kDigest = 16, kSignature = 16;
constexpr uint32_t kRequest = 48, kResponse = 80;
static_assert(kDigest + kDigestSize == kRequest && kSignature + kSignatureSize == kResponse);
}  // namespace sign

namespace challenge {  // 0x726
constexpr size_t kChallenge = 16;
constexpr uint32_t kRequest = 16, kResponse = 32;
}  // namespace challenge

namespace admin {  // 0x727 unlock and 0x732 zeroise: challenge, extra, signature
constexpr size_t kChallenge = 16, kExtra = 32, kSignature = 48;
constexpr uint32_t kRequest = 112, kResponse = 16;
static_assert(kSignature + kSignatureSize == kRequest);
}  // namespace admin

namespace reset_pin {  // 0x728: the 17-byte PIN field sits between challenge and extra
constexpr size_t kChallenge = 16, kPin = 32, kExtra = 49, kSignature = 65;
constexpr uint32_t kPinSize = 17;
constexpr uint32_t kRequest = 129, kResponse = 16;
static_assert(kPin + kPinSize == kExtra && kSignature + kSignatureSize == kRequest);
}  // namespace reset_pin

namespace make_key {  // 0x729
constexpr size_t kPublicKey = 16, kWrapped = 16, kSlot = 144;
constexpr uint32_t kRequest = 80, kResponse = 148;
static_assert(kSlot + 4 == kResponse);
}  // namespace make_key

namespace import_key {  // 0x72A
constexpr size_t kWrapped = 16, kSlot = 16;
constexpr uint32_t kRequest = 144, kResponse = 20;
}  // namespace import_key

namespace free_slot {  // 0x72B
constexpr size_t kSlot = 16;
constexpr uint32_t kRequest = 20, kResponse = 16;
}  // namespace free_slot

namespace volume_key {  // 0x72C
constexpr size_t kWrapped = 16;
constexpr uint32_t kRequest = 144, kResponse = 16;
static_assert(kWrapped + kWrappedKeySize == kRequest);
}  // namespace volume_key

namespace random_bytes {  // 0x72D: response length 16 + the count
constexpr size_t kCount = 16, kBytes = 16;
constexpr uint32_t kRequest = 20, kResponseBase = 16;
}  // namespace random_bytes

namespace bind {  // 0x72E and 0x72F
constexpr size_t kMac = 16;
constexpr uint32_t kRequest = 22, kResponse = 16;
}  // namespace bind

namespace binding {  // 0x730
constexpr size_t kIndex = 16, kCount = 17, kLeft = 18, kList = 20;
constexpr uint32_t kRequest = 16, kResponse = 128;
}  // namespace binding

namespace xts {  // 0x733 and 0x734: request length 40 + the data, response 36 + the data
constexpr size_t kSlot = 16, kTweak = 20, kLength = 36, kData = 40;
constexpr size_t kCount = 32, kResult = 36;
constexpr uint32_t kRequestBase = 40, kResponseBase = 36;
}  // namespace xts

namespace backup {  // 0x735 and 0x736
constexpr size_t kHash = 16, kBlock = 16, kRecoverBlock = 48;
constexpr uint32_t kRequest = 48, kResponse = 320;
constexpr uint32_t kRecoverRequest = 352, kRecoverResponse = 16;
static_assert(kBlock + kBackupSize == kResponse && kRecoverBlock + kBackupSize == kRecoverRequest);
}  // namespace backup

}  // namespace wire

constexpr uint32_t kNoPayload = 16;  // 0x722, 0x737 and every response without outputs

// FPGA data frame: a 64-byte header, then the data; the reply has the same length.
namespace fpga {
constexpr size_t kOpcode = 0;   // u32: 0x241 encrypt, 0x242 decrypt
constexpr size_t kLength = 4;   // bytes 4..6: the data length; byte 7 is the library's flag
constexpr size_t kKey = 8;      // 32 bytes: zero (volume key), a slot (u32 at 8) or a raw key
constexpr size_t kSlot = 8;     // u32; the key field's bytes 12..39 zero
constexpr size_t kTweak = 40;   // 16 bytes; for sector frames the first sector as u64
constexpr size_t kSector = 56;  // u64: the sector number again, echoed in the reply
constexpr size_t kHeaderSize = 64;
// Reply.
constexpr size_t kStatus = 4;         // u8, nonzero: refused
constexpr size_t kTotalLength = 8;    // u32: 64 + the bytes processed
constexpr size_t kEchoedSector = 16;  // u64
constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kLengthMask = 0x00FFFFFF;
}  // namespace fpga

}  // namespace sim::card
