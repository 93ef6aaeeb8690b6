#pragma once
// The pauses of an exchange with a meter (5 ms after each command byte, 100 or 200 ms after a
// command). A channel's worker gives its exchanges a pacer that its owner can cut short, so a
// channel that is closed or destroyed never waits out the meter's pauses: once cut short, every
// pause returns at once and no further byte is written until the pacer is resumed.

#include <condition_variable>
#include <mutex>

class CExchangePacer {
public:
    // Sleeps `ms`; false, at once, when the pacer is cut short (before or during the pause).
    bool Pause(unsigned ms) const;
    bool IsCut() const;
    // From any thread: the exchange under way ends at its next pause or byte.
    void Cut();
    // The next exchange runs at its full pace again.
    void Resume();

    // A pacer nobody cuts short, for exchanges that run to their end (tests, the probe of a
    // single port from the command line).
    static const CExchangePacer& Uncut();

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    bool m_bCut = false; // under m_lock
};
