#include "card/containers/fpga_loop.h"

#include "card/commands/key_slots.h"
#include "card/containers/fpga_frame.h"
#include "card/containers/pin_key.h"
#include "card/exchange/held_card_link.h"
#include "card/exchange/result.h"
#include "card/log/log_site.h"

namespace {

constexpr char kDefaultUserPin[] = "58302741";  // the PIN of a new or zeroised card
constexpr uint8_t kFill = 0x15;

}  // namespace

void brel_xts_fpga_test(uint32_t rounds) {
    const uint8_t zero[XTS_TWEAK_SIZE] = {};
    uint32_t slot = 0;
    uint8_t mac[PIN_KEY_MAC_SIZE];
    if (gen_key(kDefaultUserPin, zero, &slot, mac) != CARD_OK) {
        LOG_FAILURE(LOG_SITE, "gen_key err");
        return;
    }
    uint8_t block[wire::fpga_frame::library::kBlockSize],
        out[wire::fpga_frame::library::kBlockSize];
    for (uint8_t& b : block) b = kFill;
    HeldCardLink link;
    if (link.open(LOG_SITE) == CARD_OK) {
        LOG_NOTE(LOG_SITE, "test start");
        uint32_t round = 0;
        for (; round < rounds; ++round) {
            const int32_t r =
                brel_xts_fpga_dev(link.get(), slot, zero, block, sizeof block, out, 1);
            if (r != 0) {
                LOG_FAILURE(LOG_SITE, "brel_xts_fpga err[%d]", r);
                break;
            }
        }
        if (round == rounds) LOG_NOTE(LOG_SITE, "test over");
        link.close();
    }
    if (slot != 0) brel_free_sk(slot);
}
