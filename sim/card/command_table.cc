#include <algorithm>
#include <iterator>

#include "base/byte_access.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

// Random bytes: all in the response.
Lengths random_lengths(std::span<const uint8_t> request) {
    const uint32_t count = bytes::load_be32(request.data() + wire::random_bytes::kCount);
    if (!random_count_ok(count))
        return {wire::random_bytes::kRequest, wire::random_bytes::kResponseBase};
    return {wire::random_bytes::kRequest, wire::random_bytes::kResponseBase + count};
}

// XTS data: in the request and in the response.
Lengths xts_lengths(std::span<const uint8_t> request) {
    const uint32_t length = bytes::load_be32(request.data() + wire::xts::kLength);
    if (!xts_length_ok(length)) return {wire::xts::kRequestBase, wire::xts::kResponseBase};
    return {wire::xts::kRequestBase + length, wire::xts::kResponseBase + length};
}

constexpr Command kCommands[] = {
    {code::kQueryCardInfo,
     {wire::card_info::kRequest, wire::card_info::kResponse},
     nullptr,
     query_card_info},
    {code::kVerifyPin,
     {wire::verify_pin::kRequest, wire::verify_pin::kResponse},
     nullptr,
     verify_pin},
    {code::kLogout, {kNoPayload, kNoPayload}, nullptr, logout},
    {code::kSetPin, {wire::set_pin::kRequest, wire::set_pin::kResponse}, nullptr, set_pin},
    {code::kExportPublicKeys,
     {wire::public_keys::kRequest, wire::public_keys::kResponse},
     nullptr,
     export_public_keys},
    {code::kSign, {wire::sign::kRequest, wire::sign::kResponse}, nullptr, sign_digest},
    {code::kChallenge,
     {wire::challenge::kRequest, wire::challenge::kResponse},
     nullptr,
     issue_challenge},
    {code::kUnlock, {wire::admin::kRequest, wire::admin::kResponse}, nullptr, unlock},
    {code::kResetPin, {wire::reset_pin::kRequest, wire::reset_pin::kResponse}, nullptr, reset_pin},
    {code::kMakeWrappedKey,
     {wire::make_key::kRequest, wire::make_key::kResponse},
     nullptr,
     make_wrapped_key},
    {code::kImportWrappedKey,
     {wire::import_key::kRequest, wire::import_key::kResponse},
     nullptr,
     import_wrapped_key},
    {code::kFreeKeySlot,
     {wire::free_slot::kRequest, wire::free_slot::kResponse},
     nullptr,
     free_key_slot},
    {code::kImportVolumeKey,
     {wire::volume_key::kRequest, wire::volume_key::kResponse},
     nullptr,
     import_volume_key},
    {code::kRandom,
     {wire::random_bytes::kRequest, wire::random_bytes::kResponseBase},
     random_lengths,
     random_bytes},
    {code::kBind, {wire::bind::kRequest, wire::bind::kResponse}, nullptr, bind_mac},
    {code::kUnbind, {wire::bind::kRequest, wire::bind::kResponse}, nullptr, unbind_mac},
    {code::kQueryBinding,
     {wire::binding::kRequest, wire::binding::kResponse},
     nullptr,
     query_binding},
    {code::kZeroise, {wire::admin::kRequest, wire::admin::kResponse}, nullptr, zeroise},
    {code::kXtsEncrypt,
     {wire::xts::kRequestBase, wire::xts::kResponseBase},
     xts_lengths,
     xts_encrypt},
    {code::kXtsDecrypt,
     {wire::xts::kRequestBase, wire::xts::kResponseBase},
     xts_lengths,
     xts_decrypt},
    {code::kBackup, {wire::backup::kRequest, wire::backup::kResponse}, nullptr, backup_keys},
    {code::kRecover,
     {wire::backup::kRecoverRequest, wire::backup::kRecoverResponse},
     nullptr,
     recover_keys},
    {code::kActivate, {kNoPayload, kNoPayload}, nullptr, activate},
};

}  // namespace

const Command* find_command(uint32_t code) {
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [code](const Command& c) { return c.code == code; });
    return found == std::end(kCommands) ? nullptr : found;
}

}  // namespace sim::card
