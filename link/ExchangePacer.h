#pragma once
// The pauses of an exchange with a meter (5 ms after each command byte, 100 or 200 ms after a
// command), which its owner can cut short from another thread, so that a channel that is closed
// or destroyed never waits out the meter's pauses.
//
// Cuts go by generation: an exchange runs under the generation of the gate it was begun at, and
// Advance() cuts every exchange of an earlier generation at once (its pauses return, its next
// byte is not written). Exchanges begun afterwards run at full pace: nothing is resumed, so no
// cut can land on an exchange that was asked for after it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CExchangeGate {
public:
    uint64_t Generation() const { return m_generation.load(); }
    // From any thread: cuts every exchange begun so far; returns the new generation.
    uint64_t Advance();
    bool IsStale(uint64_t generation) const { return generation < m_generation.load(); }
    // Sleeps `ms`; false, at once, when `generation` is stale or becomes stale meanwhile.
    bool Pause(uint64_t generation, unsigned ms) const;

private:
    mutable std::mutex m_lock; // orders Advance against a pause about to wait
    mutable std::condition_variable m_cv;
    std::atomic<uint64_t> m_generation{1};
};

// The pacing of one exchange: a generation of a gate, or nothing that cuts it.
class CExchangePacer {
public:
    CExchangePacer() = default; // never cut
    CExchangePacer(const CExchangeGate& gate, uint64_t generation)
        : m_gate(&gate), m_generation(generation) {}

    // Sleeps `ms`; false, at once, when the exchange is cut short (before or during the pause).
    bool Pause(unsigned ms) const;
    bool IsCut() const { return m_gate && m_gate->IsStale(m_generation); }

    // A pacer nobody cuts short, for exchanges that run to their end (tests, a meter's stop).
    static const CExchangePacer& Uncut();

private:
    const CExchangeGate* m_gate = nullptr;
    uint64_t m_generation = 0;
};
