// The card's two key pairs: the public keys, signatures, and the volume key sent encrypted to the
// encryption key.
#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {

uint32_t export_public_keys(CardState& card, std::span<const uint8_t>,
                            std::span<uint8_t> response) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    std::memcpy(response.data() + wire::public_keys::kSigning, card.signing.public_key.data(),
                kPublicKeySize);
    std::memcpy(response.data() + wire::public_keys::kEncryption, card.encryption.public_key.data(),
                kPublicKeySize);
    return kOk;
}

// Signs the digest e that the host computed over the signing key's Z and the message.
uint32_t sign_digest(CardState& card, std::span<const uint8_t> request,
                     std::span<uint8_t> response) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    uint8_t* r = response.data() + wire::sign::kSignature;
    if (sm2_sign_digest(r, r + 32, card.signing.private_key.data(),
                        request.data() + wire::sign::kDigest) != 0) {
        std::memset(r, 0, kSignatureSize);
        return kFailed;
    }
    return kOk;
}

uint32_t import_volume_key(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    Key32 key;
    uint32_t length = 0;
    const bool imported =
        sm2_decrypt(card.encryption.private_key.data(), request.data() + wire::volume_key::kWrapped,
                    kWrappedKeySize, key.data(), &length) == 0 &&
        length == key.size();
    if (imported) card.volume_key = key;
    crypto_internal::secure_wipe(key.data(), key.size());
    return imported ? kOk : kFailed;
}

}  // namespace sim::card
