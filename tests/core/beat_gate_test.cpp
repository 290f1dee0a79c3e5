// The gate that keeps a beat state alive for every callback, hammered from two threads: the
// "clock" opens a gate for a fresh state, closes it and poisons the state at once, as a thread
// leaving its frame would; the "timer" keeps calling in with whatever state it was given. A
// callback that ever sees a poisoned state inside the gate is the use-after-free the gate exists
// to prevent.
#include "clock/beat_gate.h"
#include "clock/beat_pattern.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

const uint32_t kPoison = 0xDEADBEEF;

TEST(BeatGate, LetsInOnlyTheStateItWasOpenedForWhileTheClickIsToPlay) {
    BeatState a = {4, 0, nullptr};
    BeatState b = {4, 0, nullptr};
    std::atomic<uint32_t> running{1};
    EXPECT_EQ(EnterBeatGate(&a), 0) << "closed at first";
    OpenBeatGate(&a, &running);
    EXPECT_EQ(EnterBeatGate(&b), 0);
    EXPECT_EQ(EnterBeatGate(nullptr), 0);
    ASSERT_EQ(EnterBeatGate(&a), 1);
    LeaveBeatGate();
    // Stopped, while the clock has not yet noticed: the gate is still open, yet nobody gets in.
    running.store(0);
    EXPECT_EQ(EnterBeatGate(&a), 0) << "a tick after the stop must not sound";
    CloseBeatGate(); // returns: the refused callback did not stay checked in
    running.store(1);
    EXPECT_EQ(EnterBeatGate(&a), 0);
    // The next start begins afresh.
    OpenBeatGate(&b, &running);
    ASSERT_EQ(EnterBeatGate(&b), 1);
    LeaveBeatGate();
    CloseBeatGate();
}

// A callback held inside the gate while the clock closes it: the close must wait for it however
// long it takes. The one wait here bounds how long a close that does not wait has to show it; a
// close that does wait never ends before the callback leaves, so the test cannot fail by chance.
TEST(BeatGate, CloseWaitsForTheCallbackInside) {
    BeatState state = {4, 0, nullptr};
    std::atomic<uint32_t> running{1};
    std::atomic<bool> inside{false};
    std::atomic<bool> leave{false};
    std::atomic<bool> closed{false};
    OpenBeatGate(&state, &running);
    std::thread callback([&] {
        ASSERT_TRUE(EnterBeatGate(&state));
        inside.store(true);
        while (!leave.load()) {
            std::this_thread::yield();
        }
        LeaveBeatGate();
    });
    while (!inside.load()) {
        std::this_thread::yield();
    }
    std::thread clock([&] {
        CloseBeatGate();
        closed.store(true);
    });
    // Once the gate is shut to newcomers the close has begun; it then has 200 ms to end too early.
    while (EnterBeatGate(&state)) {
        LeaveBeatGate();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!closed.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(closed.load()) << "the gate closed while a callback was still inside";
    leave.store(true);
    callback.join();
    clock.join();
    EXPECT_TRUE(closed.load());
}

TEST(BeatGate, NoCallbackUsesAStateAfterTheGateClosed) {
    const int kRounds = 20000;
    BeatState states[2] = {{4, 0, nullptr}, {4, 0, nullptr}};
    std::atomic<BeatState *> armed{nullptr};
    std::atomic<bool> done{false};
    std::atomic<long long> used{0}; // a starved main thread lets the timer in billions of times
    std::atomic<long> poisonedSeen{0};
    std::atomic<uint32_t> running{1};
    std::atomic<unsigned> spins{0};

    std::thread timer([&] {
        while (!done.load()) {
            BeatState *state = armed.load();
            if (state != nullptr && EnterBeatGate(state)) {
                if (state->beats == kPoison) {
                    poisonedSeen.fetch_add(1);
                }
                NextBeatMessage(state);
                used.fetch_add(1);
                LeaveBeatGate();
            }
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        BeatState *state = &states[round % 2];
        state->beats = 4;
        state->count = 0;
        OpenBeatGate(state, &running);
        armed.store(state);
        // A busy wait of varied length, so the close meets the timer at every point of its
        // check-in. Not a yield: beside other busy processes each yield can cost a whole time
        // slice, and twenty thousand rounds of them took minutes.
        for (int spin = 0; spin < (round % 64) * 16; ++spin) {
            spins.fetch_add(1, std::memory_order_relaxed);
        }
        CloseBeatGate();
        state->beats = kPoison; // the frame is gone
    }
    done.store(true);
    timer.join();
    EXPECT_EQ(poisonedSeen.load(), 0);
    EXPECT_GT(used.load(), 0) << "the timer thread never got in: the test proved nothing";
}

} // namespace
