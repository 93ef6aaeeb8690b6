#pragma once
// A simulated meter whose readings tests can predict, and what a meter was sent.

#include "sim/MeterSimulator.h"
#include "support/WaitUntil.h"

#include <string>

// A meter named `name` reading a constant `watts` (no noise, no drift) `rate` times a second.
inline MeterProfile SteadyProfile(const std::string& name, const std::string& serial,
                                  double rate = 40, double watts = 1.5e-3) {
    MeterProfile profile;
    profile.name = name;
    profile.serialReply = "S/N " + serial;
    profile.nominalWatts = watts;
    profile.readingsPerSecond = rate;
    profile.noise = 0;
    profile.drift = false;
    return profile;
}

// Every byte the meter received, in order.
inline std::string ReceivedText(const CMeterSimulator& meter) {
    std::string text;
    for (const ReceivedByte& b : meter.ReceivedBytes())
        text += b.byte;
    return text;
}

// What the meter received as runs of bytes, each with its arrival time in ms on the steady clock:
// shown when a test fails, to tell a command that never came from one that came late.
inline std::string TimedReceivedText(const CMeterSimulator& meter) {
    std::string text;
    double last = -1e9;
    for (const ReceivedByte& b : meter.ReceivedBytes()) {
        if (b.timeMs - last > 20)
            text += "\n" + std::to_string(static_cast<long long>(b.timeMs)) + " ms: ";
        text += b.byte;
        last = b.timeMs;
    }
    return text;
}

// Waits until the meter has stopped streaming. A program that stops its meter and exits may leave
// its last "*CSU" in the port, still to be read by the simulator's thread, which a busy machine
// runs late: the meter's state is looked at once it has read it.
inline bool StopsStreaming(const CMeterSimulator& meter) {
    return WaitUntil([&meter] { return !meter.IsStreaming(); }, std::chrono::milliseconds(10000));
}
