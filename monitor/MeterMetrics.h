#pragma once
// What the metrics page shows of a program: its bound channels by position and its
// acquisitions. The page is read on the server's threads at each scrape, from the channels'
// atomics and their locked record, so a scrape never waits for a meter and never moves a value.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CChannel;
struct CAcquisitionTally;

// The default port of the exporter. Prometheus's list of default port allocations has no room
// left in 9100-9999; this one is not on it.
constexpr int kDefaultMetricsPort = 10640;

// One bound position at the moment of a scrape.
struct MeterSample {
    int position = 0; // 1 to 8
    std::string serial;
    std::string name;
    std::string port;
    std::string title;
    bool up = false;       // connected and answering
    bool hasPower = false; // up, with a live reading of the meter there now
    double powerWatts = 0.0;
    uint64_t readings = 0;
    bool alarmLatched = false;
    uint64_t alarmTrips = 0;
    double alarmLowWatts = 0.0;
    bool hasZero = false; // a zero is taken off the head's readings
    double zeroWatts = 0.0;
    double alarmHighWatts = 0.0;
    double wavelengthMeters = 0.0;
    bool hasLastReading = false;
    double lastReadingTime = 0.0; // Unix seconds
};

struct MetricsSnapshot {
    std::vector<MeterSample> meters; // by position
    bool acquisitionRunning = false;
    uint64_t acquisitionLines = 0;
};

// A channel shown at a position; the channel must outlive the board (or be taken off it).
struct MeteredChannel {
    int position = 0; // 1 to 8
    const CChannel* channel = nullptr;
};

class CMeterMetrics {
public:
    // Replaces the channels shown; a scrape under way finishes with the old ones first.
    void SetChannels(std::vector<MeteredChannel> channels);
    // The tally of the program's acquisitions (must outlive the board), or none.
    void SetAcquisition(const CAcquisitionTally* tally);

    // The state of every bound channel (an unbound one is left out) and of the acquisitions.
    MetricsSnapshot Snapshot() const;

private:
    mutable std::mutex m_lock; // m_channels, m_pTally; held for a whole snapshot
    std::vector<MeteredChannel> m_channels;
    const CAcquisitionTally* m_pTally = nullptr;
};

// The page in the text exposition format. Empty when the program is built without the exporter.
std::string MetricsPageText(const MetricsSnapshot& snapshot);
