// Keeps the beat state alive for every run of the timer callback, and keeps the click silent
// from the moment the user stops it.
//
// timeKillEvent stops future events, but the documentation does not promise that a callback
// already under way on the timer thread has finished when it returns. So the callback checks in
// and out of a gate held in static storage, which outlives every beat clock, and touches the
// state only while the gate names it. The beat clock closes the gate after timeKillEvent and
// waits until no callback is inside; one that arrives later finds the gate closed and leaves
// without touching the state. That no callback uses a state after the gate has closed rests on
// C++ atomics alone, whatever winmm does. The gate knows a clock by its state's address, and a
// later clock's state, on a later thread's stack, may have the same one: a callback of a killed
// timer that winmm started only after the next clock opened the gate would be let in for that
// clock. winmm starts none once timeKillEvent has returned (TIME_KILL_SYNCHRONOUS asks for just
// that), and the callback has nothing but the address to tell its clock by. One beat clock runs
// at a time, so one gate serves.
//
// The gate also lets a callback in only while the settings' running flag is set. The beat clock
// notices a cleared flag at its next poll, up to 100 ms later, and ticks falling due meanwhile
// would still sound after the user pressed 停止; the callback reads the flag itself instead.
#ifndef CLOCK_BEAT_GATE_H
#define CLOCK_BEAT_GATE_H

#include <atomic>
#include <cstdint>

struct BeatState;

// Lets callbacks for this state through while *running is not 0. Call before arming the timer;
// running must outlive the open gate.
void OpenBeatGate(BeatState *state, const std::atomic<uint32_t> *running);

// Closes the gate and returns once no callback is using the state.
void CloseBeatGate();

// For the callback: returns true and checks in when the gate is open for this state and running
// is still set, in which case LeaveBeatGate must follow; returns false (and needs no leave)
// otherwise.
bool EnterBeatGate(const BeatState *state);
void LeaveBeatGate();

#endif
