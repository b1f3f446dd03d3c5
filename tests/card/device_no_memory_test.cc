// A frame buffer that cannot be allocated: result 16 with "no memory", the lock released and the
// link closed. The program replaces the nothrow array allocation so that one allocation of a
// chosen size fails; it is a program of its own so that the replacement reaches no other test.
#include <gtest/gtest.h>

#include <new>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "tests/card/scripted_card.h"

namespace {
size_t failing_size = 0;  // the next nothrow new[] of this size fails; 0: none
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (size != 0 && size == failing_size) {
        failing_size = 0;
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

TEST_F(ScriptedCard, RequestNotAllocatedOpensNothing) {
    const uint8_t pin_field[17] = "12345678";
    const uint8_t k16[16] = {}, k64[64] = {};
    failing_size = 192;  // the 0x728 request, allocated before the link is opened
    EXPECT_EQ(QeltResetPin(k16, k16, pin_field, k64), 16u);
    EXPECT_EQ(failing_size, 0u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"no memory"});
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(card.device->control_codes().empty());  // the device was never opened
    answer(response(0x722, 64));
    EXPECT_EQ(QeltCardLoginOut(), 0u);
}

TEST_F(ScriptedCard, ResponseNotAllocatedAfterTheRequestWasSent) {
    uint8_t buffer[4096];
    std::fill(std::begin(buffer), std::end(buffer), 0xA5);
    failing_size = 4160;  // the response to 4096 random bytes
    EXPECT_EQ(brel_gen_random(buffer, 4096), 16u);
    EXPECT_EQ(failing_size, 0u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"no memory"});
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_TRUE(read_lengths().empty());
    EXPECT_EQ(card.device->open_handles(), 0u);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xA5);
    answer(response(0x722, 64));
    EXPECT_EQ(QeltCardLoginOut(), 0u);
}

}  // namespace
