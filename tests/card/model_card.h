// A card of the firmware model on the simulated bus, on a machine with one network adapter, the
// log captured. The card's administrator is the software card's built-in one, whose private key
// the tests hold (tests/softcard/admin_signer.h).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "card/card_api.h"
#include "platform/sim/card.h"
#include "tests/card/scripted_card.h"
#include "tests/softcard/admin_signer.h"

// Faults, built member by member (the optional members have no default initializers, which
// designated initializers would need).
inline sim::card::Fault status_fault(uint32_t status) {
    sim::card::Fault f;
    f.status = status;
    return f;
}
inline sim::card::Fault short_answer_fault(uint32_t bytes) {
    sim::card::Fault f;
    f.answer_bytes = bytes;
    return f;
}
inline sim::card::Fault no_answer_fault() {
    sim::card::Fault f;
    f.no_answer = true;
    return f;
}
inline sim::card::Fault stall_fault() {
    sim::card::Fault f;
    f.stall = true;
    return f;
}
inline sim::card::Fault unplug_fault() {
    sim::card::Fault f;
    f.unplug = true;
    return f;
}

class ModelCard : public ::testing::Test {
  protected:
    void SetUp() override {
        root.make_folder("C:/Halden");
        sim::usb::unplug_all();
        sim::network_set_adapters({{"eth0", true, true, kHostMac}});
        state = sim::card::random_card();
        std::memcpy(state.admin_public_key.data(), kAdminPublicKey, 64);
        card = sim::card::plug(state);
    }
    void TearDown() override {
        sim::usb::unplug_all();
        sim::network_use_real_adapters();
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

    TempMachineRoot root;
    LogCapture log;
    sim::card::CardState state;
    std::shared_ptr<sim::card::Card> card;
};
