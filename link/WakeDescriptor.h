#pragma once
// A descriptor another thread makes readable to wake a thread that waits in poll() on it beside
// a port: a request is taken at once, and a thread with nothing to do sleeps with no timer.

#include <chrono>

struct timespec;

class CWakeDescriptor {
public:
    CWakeDescriptor();
    ~CWakeDescriptor();
    CWakeDescriptor(const CWakeDescriptor&) = delete;
    CWakeDescriptor& operator=(const CWakeDescriptor&) = delete;

    // The descriptor to poll for reading; -1 when the system gave none (waits then time out).
    int Fd() const { return m_read; }
    // From any thread; wakes the next wait too when nobody waits now.
    void Wake();
    // Takes the wake-ups made so far, so the next wait sleeps again.
    void Drain();
    // Sleeps until woken (the wake-ups are then taken) or `timeoutMs` has passed (-1: no limit).
    void Wait(int timeoutMs);
    // The same, until `when` to the microsecond rather than a whole number of milliseconds from
    // now: threads that wait for the same instant are woken by one timer interrupt.
    void WaitUntil(std::chrono::steady_clock::time_point when);

private:
    void Sleep(const timespec* timeout); // nullptr: no limit

    int m_read = -1;
    int m_write = -1; // the same as m_read for an eventfd
};
