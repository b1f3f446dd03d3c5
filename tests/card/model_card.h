// A card of the firmware model on the simulated bus. The card's administrator is the software
// card's built-in one, whose private key the tests hold (tests/support/admin_signer.h).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "card/card_api.h"
#include "sim/card/card_controls.h"
#include "tests/card/scripted_card.h"
#include "tests/support/admin_signer.h"

// A fault with one member set, fault(&Fault::stall, true) (designated initializers would need
// default initializers on the optional members).
template <class Member, class Value>
sim::card::Fault fault(Member sim::card::Fault::*member, Value value) {
    sim::card::Fault f;
    f.*member = value;
    return f;
}

class ModelCard : public CardMachine {
  protected:
    void SetUp() override {
        CardMachine::SetUp();
        state = sim::card::random_card();
        std::memcpy(state.admin_public_key.data(), kAdminPublicKey, 64);
        card = sim::card::plug(state);
    }

    static uint32_t verify_pin(const std::string& pin, uint32_t* tries = nullptr) {
        uint32_t ignored = 0;
        return QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(pin.c_str()),
                                 static_cast<uint32_t>(pin.size()), tries ? tries : &ignored);
    }
    // Logged in with the default PIN and this host bound.
    static void login_bound() {
        ASSERT_EQ(verify_pin(sim::card::kDefaultPin), 15u);
        ASSERT_EQ(QeltBindCurMac(), 0u);
    }
    // Every frame the card took was well formed and came after the previous answer was read.
    void expect_clean_frames() const {
        EXPECT_TRUE(card->refused().empty());
        for (const auto& f : card->frames()) {
            EXPECT_EQ(f.error, sim::card::FrameError::kNone) << std::hex << f.code;
            EXPECT_FALSE(f.overlapped) << std::hex << f.code;
        }
    }

    sim::card::CardState state;
    std::shared_ptr<sim::card::Card> card;
};
