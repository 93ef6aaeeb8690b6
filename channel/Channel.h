#pragma once
// One position's meter, without a window: its port, line buffer and link (closed, connecting,
// connected, lost), one worker thread, the calibrated current value, the latched alarm, the graph
// samples and the running statistics. The window's pane, the acquisition engine and kelvarin-cli
// all use it, and none of them waits for the meter: they make requests, which the worker carries
// out in the order made (every exchange with the meter and its pauses run there), and read the
// state whenever they like.
//
// The worker alone uses the port and changes the link. It sleeps in poll() on its wake-up
// descriptor and, while the meter is connected, on the port: a request is taken at once; a
// streaming meter is read in batches at most every 50 ms; a silent meter, a channel with no
// meter and a stopped one cost no wake-up. A lost meter is tried every two seconds.
//
// Requests are values (what to do, with its settings). A close cuts the exchange under way short
// and makes every request made before it stale (each told `cut`); requests made after it run at
// the meter's pace, so nothing has to be resumed. A destroyed channel tells every request still
// queued that it was cut.
//
// At every connect and resume the value, the reading time and the alarm start anew: until the
// meter's first new reading it has none to show (HasReading false). A connected meter that has
// sent nothing for kSilentAfter is silent: its last reading is no longer live.
//
// Value, alarm, flags and counts are atomic; the record, the graph and the statistics are under
// one lock, held for each append-and-trim, each reset and each copy.

#include "detectors/ChannelConfig.h"
#include "link/ComAccess.h"
#include "link/ExchangePacer.h"
#include "link/MeterLink.h"
#include "link/WakeDescriptor.h"
#include "render/GraphRenderer.h"
#include "render/PeakHold.h"
#include "render/RecentMean.h"
#include "render/Statistics.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class ChannelEvent {
    Lost,    // the meter stopped answering (detail: the port's reason, as its text)
    Resumed, // the same meter answers again on its port
};

// The scales chosen by hand for a graph (the scale dialog).
struct GraphScales {
    bool autoY = true;
    bool autoX = true;
    float yMax = 1.0f;
    float yMin = 0.0f;
    float xMax = 10.0f;
    float xMin = 0.0f;
};

class CChannel {
public:
    // How a request ended, told on the worker. `ok` false with the port's `error` when the port
    // could not be opened; `cut` when the channel was closed or destroyed before it was done.
    struct Outcome {
        bool ok = true;
        bool cut = false;
        PortError error;
        // Connect: when the port had been open 400 ms and the graph restarted.
        std::chrono::steady_clock::time_point openedAt{};
    };
    using Done = std::function<void(const Outcome&)>;
    using OnEvent = std::function<void(ChannelEvent event, const std::string& detail)>;
    using OnReading = std::function<void(float value)>;

    CChannel();
    // Cuts an exchange under way short (a close under way ends first), tells every request still
    // queued that it was cut, stops a meter left open ("*CSU") and closes its port, then joins
    // the worker.
    ~CChannel();
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

    // Requests. Each returns at once; the worker carries them out in order.
    //
    // Binds the channel to the meter on config.m_strPort: the record is taken at once (the level
    // lines shown when `showLevels`) and the channel is connecting; then, on the worker, the
    // port is opened at 57600, 400 ms, the graph restarted, "*PWC%5i", 200 ms, "*CAU", and the
    // channel is connected. A port that does not open leaves the channel closed (`done` says
    // why); a command the port refuses leaves it lost.
    void RequestConnect(const CChannelConfig& config, bool showLevels, Done done = {});
    // The record edited with OK, taken at once with its level lines shown; then "*PWC%5i",
    // 200 ms, "*ANT" or "*ANF" to the meter (sent whatever the link: a closed port lets them
    // fail, a lost meter is given them when it comes back).
    void RequestConfigure(const CChannelConfig& config, Done done = {});
    // A port just chosen by hand: open, "*NAM", 100 ms, "*SNN", 100 ms (name and serial number
    // kept as received, each read on when late), "*CAU", 200 ms.
    void RequestIdentify(const std::string& portName, Done done = {});
    // Cuts the exchange under way short (the requests made before are told `cut`), then "*CSU"
    // and close when the port is open. A lost meter is no longer tried.
    void RequestClose(Done done = {});

    // What went wrong in the requests since the last call, one text each (a port that could not
    // be opened: "PORT: cannot open the port: " and the system's reason, with the permission hint
    // when it applies), for a window to tell at its next tick.
    std::vector<std::string> TakeFailures();

    // Told on the worker of every loss and resume, and of every reading. Set them before the
    // first request.
    void SetEventHandler(OnEvent handler);
    void SetReadingObserver(OnReading observer);

    // Connecting while a bind asked for is not done, closed while a close is not; else the link's.
    LinkState State() const;
    bool IsConnected() const { return State() == LinkState::Connected; }
    // Connecting, connected or lost: the channel has a meter, present or not.
    bool IsBound() const { return State() != LinkState::Closed; }
    bool IsLost() const { return State() == LinkState::Lost; }
    bool IsConnecting() const { return State() == LinkState::Connecting; }
    std::time_t LostAt() const { return m_link.LostAt(); }

    // The reading shown: 0 from a connect or resume until the meter's first reading.
    float Value() const { return m_fValue.load(); }
    // The meter there now has sent a reading since it was connected or came back (false while
    // it is lost). The link's state is read last: the worker publishes a loss before it forgets
    // the reading, and a reader in between must not see the old reading as live.
    bool HasReading() const {
        return m_nFreshReadings.load(std::memory_order_acquire) > 0 && m_link.IsConnected();
    }
    // Connected, with a reading, but none for kSilentAfter: the value is no longer live.
    bool IsSilent() const;
    // The value, when it is a live reading (read, not lost, not silent).
    bool LiveValue(float& value) const;
    bool Alarm() const { return m_bAlarm.load(); }
    void ResetAlarm();
    // Readings taken since the channel was made, whatever was reset since.
    uint64_t ReadingCount() const { return m_nReadingCount.load(std::memory_order_acquire); }
    // Times the alarm latched since the channel was made: a latch reset before anyone looked
    // still counts.
    uint64_t AlarmTrips() const { return m_nAlarmTrips.load(); }
    // Unix time in seconds of the latest reading of the meter there now: 0 while it is lost, and
    // from a connect or resume until its first reading.
    double LastReadingTime() const {
        const double time = m_fLastReadingTime.load();
        return m_link.IsConnected() ? time : 0.0;
    }
    // Changes with everything shown other than a reading (link state, record, resets, scales).
    uint32_t Revision() const { return m_nRevision.load(std::memory_order_relaxed); }

    CChannelConfig Config() const;
    // Replaces the record without a word to the meter (position, title given by the frame).
    void SetConfig(const CChannelConfig& config);
    // Stores the settings when a meter was identified; false with `error` when that failed.
    bool SaveChannelConfig(std::string& error) const;

    // A consistent copy of the graph and of the statistics.
    CGraphRenderer GraphSnapshot() const;
    CStatistics StatisticsSnapshot() const;
    // New time origins; samples and statistics restart.
    void ResetGraph();
    void ResetStatistics();
    // Statistics count from now on, for good.
    void EnableStatistics();
    void SetGraphMaxPoints(int points);
    int GraphMaxPoints() const { return m_nGraphMaxPoints.load(); }
    void SetGraphScales(const GraphScales& scales);

    // While acquiring, readings feed the value, alarm and statistics but the graph takes one
    // sample per acquisition tick, from SampleForAcquisition, which returns the latest reading
    // (kept while the meter is lost or silent, and until a meter back has read again).
    void SetAcquiring(bool acquiring);
    bool IsAcquiring() const { return m_bAcquiring.load(); }
    float SampleForAcquisition();

    // One calibrated reading (the worker calls it for each; tests call it directly). The head's
    // zero is taken off first: value, alarm, graph, statistics, peak, recordings and whoever
    // observes the readings all see the zeroed reading.
    void OnNewValue(float value);

    // Zero: the mean of the calibrated readings of the last second becomes the head's zero.
    // False when there was no reading in that second (nothing changed).
    bool TakeZero();
    // The head's zero, unit and reference, taken at once (the record keeps them).
    void SetDisplayAids(const CDisplayAids& aids);
    CDisplayAids DisplayAids() const;

    // The highest zeroed reading since the last ResetPeak (the tuning display's mark).
    CPeakHold Peak() const;
    void ResetPeak();

    static constexpr auto kPollPeriod = std::chrono::milliseconds(50);
    static constexpr auto kSilentAfter = std::chrono::seconds(5);

private:
    struct Request {
        enum class Kind { Connect, Configure, Identify, Close };
        Kind kind = Kind::Close;
        uint64_t sequence = 0;    // order of asking
        uint64_t generation = 0;  // the gate's generation when asked
        std::string port;         // Connect, Identify
        int wavelength = 1064;    // Connect, Configure
        bool anticipation = true; // Configure
        Done done;
    };

    void Post(Request request);
    // The record, at once (the pane shows it), with its level lines when `showLevels`.
    void TakeRecord(const CChannelConfig& config, bool showLevels);
    void WorkerProc();
    // Sleeps until a request, the next read of a streaming meter or the next try of a lost one.
    void WaitForWork();
    void Carry(const Request& request);
    void ReadOnce();
    void TryResume();
    void Leave();
    void Tell(ChannelEvent event, const std::string& detail);
    void Touch() { m_nRevision.fetch_add(1, std::memory_order_relaxed); }
    void AppendSampleLocked(float value);
    void ShowLevelsLocked();
    // A meter lost: no reading of it is live (its value stays, for the lost pane).
    void ForgetReading();
    // A new meter (`otherMeter`), or the same one back: no reading yet, no value, no alarm.
    void StartAnew(bool otherMeter = false);
    // The link was lost: its reading forgotten, the loss told.
    void TellLost();
    // Worker: a command the connected meter refused makes the link lost, as a failed read does.
    void LoseOnWriteFailure(const CExchangePacer& pacer);

    // Exchanges, on the worker.
    Outcome OpenFailed(const std::string& portName);
    Outcome Connect(const Request& request);
    Outcome Configure(const Request& request);
    Outcome Identify(const Request& request);
    // The end of a connect or identify: connected unless cut short, then lost if the meter
    // refused its start.
    Outcome Started(const std::string& portName, bool started, const CExchangePacer& pacer,
                    const Outcome& outcome);
    void Close();

    ComAccess m_port;
    CMeterLink m_link{m_port};
    CExchangeGate m_gate;
    CWakeDescriptor m_wake;
    std::chrono::steady_clock::time_point m_nextRead{}; // the worker only

    std::atomic<float> m_fValue{0.0f}; // the reading shown: 0 until the first one of a connection
    std::atomic<float> m_fHeld{0.0f};  // the latest reading, kept across a loss (recordings)
    std::atomic<bool> m_bAlarm{false};
    std::atomic<bool> m_bAcquiring{false};
    std::atomic<int> m_nGraphMaxPoints{2000};
    std::atomic<uint64_t> m_nReadingCount{0};
    std::atomic<uint64_t> m_nFreshReadings{0}; // since the latest connect or resume
    std::atomic<uint64_t> m_nAlarmTrips{0};
    std::atomic<double> m_fLastReadingTime{0.0};
    std::atomic<int64_t> m_nLastReadingMs{0}; // steady clock, for silence
    std::atomic<uint32_t> m_nRevision{0};

    // m_config, m_graph, m_stats, m_recent, m_peak, m_dwStartTicks, m_bScaleFollowsData
    mutable std::mutex m_lock;
    CChannelConfig m_config;
    CGraphRenderer m_graph;
    CStatistics m_stats;
    CRecentMean m_recent; // calibrated readings before the zero, for TakeZero
    CPeakHold m_peak;
    uint32_t m_dwStartTicks;
    bool m_bScaleFollowsData = false; // m_fYMin/m_fYMax are the extremes of the samples

    std::mutex m_failureLock;
    std::vector<std::string> m_failures; // under m_failureLock

    std::mutex m_hookLock; // m_onEvent, m_onReading
    OnEvent m_onEvent;
    OnReading m_onReading;

    // m_requests, the sequences and m_bStop. A bind (connect, identify) asked after the latest
    // close and not yet done makes the channel connecting; a close not yet done makes it closed.
    mutable std::mutex m_queueLock;
    std::deque<Request> m_requests;
    uint64_t m_nSequence = 0;
    uint64_t m_nBindAsked = 0;  // sequence of the latest bind asked
    uint64_t m_nCloseAsked = 0; // sequence of the latest close asked
    uint64_t m_nDone = 0;       // sequence of the latest request done
    bool m_bStop = false;
    std::thread m_worker; // last: started once everything above exists
};
