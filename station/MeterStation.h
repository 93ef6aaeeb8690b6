#pragma once
// The bench: the eight positions' channels, the detectors bound to them, and the acquisitions
// recorded from them, without a window. The main window and every kelvarin-cli command drive the
// same station; the window keeps its menus, panes, dialogs and profile, and asks the station.
//
// Binding follows the auto-detection list's order and rules: the rows in list order take the
// free positions, only rows with a serial number, only the first eight rows; a position that is
// bound keeps its meter (lost ones included), and a meter already bound is not bound twice.
//
// An acquisition records the channels connected when it starts, by hand for a duration or on
// schedule between two dates; its worker samples the channels and writes the file itself. What
// the owner must tell the user (a run completed, a write that failed, a window that ended with
// no detector connected) is handed over at the owner's tick, on the owner's thread.
//
// Closing the station stops the acquisition, takes the channels off the metrics page, asks every
// channel to close at once and then waits for all of them.

#include "acquisition/AcquisitionEngine.h"
#include "channel/Channel.h"
#include "detectors/DetectorOrder.h"
#include "monitor/MeterMetrics.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What an acquisition is to be: the settings of the acquisition parameters.
struct CAcquisitionPlan {
    std::string m_strAcqBaseName; // path prefix of the files
    int m_nSamplingPeriod = 1;    // seconds, at least 1
    int m_nDuration = 60;         // seconds, by period
    bool m_bByTime = false;       // between the two dates instead
    std::time_t m_timeAcqStart = 0;
    std::time_t m_timeAcqEnd = 0;
};

// What the owner is to tell the user, from its tick.
struct StationNews {
    enum class Kind {
        Started,      // a scheduled run began: `file`
        Completed,    // a run reached its end: "Acquistion completed : " and `file`
        CreateFailed, // a scheduled run could not create its file: `text`
        WriteFailed,  // a line could not be written (told once per run): `text`
        WindowMissed, // a scheduled window ended with no detector connected: `text`
    };
    Kind kind;
    std::string file;
    std::string text;
};

class CMeterStation {
public:
    static constexpr int kPositions = 8;
    using OnEvent = std::function<void(int position, const CChannel& channel, ChannelEvent event,
                                       const std::string& detail)>;

    // `onEvent` is told, on the channel's worker, of every loss and resume of a meter.
    explicit CMeterStation(OnEvent onEvent = {});
    ~CMeterStation();
    CMeterStation(const CMeterStation&) = delete;
    CMeterStation& operator=(const CMeterStation&) = delete;

    CChannel& Channel(int position) { return *m_channels[static_cast<size_t>(position)]; }
    const CChannel& Channel(int position) const {
        return *m_channels[static_cast<size_t>(position)];
    }
    int ConnectedCount() const;
    // Every position's graph keeps at most this many points.
    void SetGraphMaxPoints(int points);

    // Binds the rows of a detector list (in list order) to the free positions and asks each
    // channel to connect, all at once; `connected` is told each outcome with the binding's row.
    // The bindings made, in list order.
    using Connected =
        std::function<void(const DetectorBinding& binding, const CChannel::Outcome& outcome)>;
    std::vector<DetectorBinding> Bind(std::vector<CChannelConfig> rows, Connected connected = {});
    // Stops the acquisition, takes the channels off the metrics page, asks every channel to close
    // ("*CSU", port closed) at once, then waits for all of them.
    void CloseAll();

    // Acquisition. The plan as the parameters dialog sets it: a window by time is scheduled when
    // its start is ahead or it has begun but not ended.
    const CAcquisitionPlan& Plan() const { return m_plan; }
    void SetPlan(const CAcquisitionPlan& plan, std::time_t now);
    bool IsStartPending() const { return m_bStartPending; }

    enum class Start { Started, Running, NoDetector, NoFile, ByTime, CreateFailed };
    // A start by hand: nothing while a run goes or no detector is connected; refused without a
    // prefix or in the by-time mode; CreateFailed with `error` naming the file and the reason.
    Start StartByHand(std::time_t now, std::string& error);
    // Stops the run (the line being written is finished first); no completion is told.
    void StopAcquisition();
    bool IsAcquiring() const { return m_bAcqRunning.load(); }
    // The file of the run going or last begun.
    const std::string& AcquisitionFile() const { return m_strAcqFile; }
    const CAcquisitionRun* CurrentRun() const { return m_acqWorker.Run(); }

    // The owner's tick (the window's 100 ms status timer, the command line's loop): starts a
    // scheduled run when due, and hands over what is to be told since the last tick.
    std::vector<StationNews> Tick(std::time_t now);

    // What the metrics page shows: the eight positions (unbound ones are left out) and the
    // acquisitions' tally.
    const CMeterMetrics& Metrics() const { return m_metrics; }

private:
    bool Begin(bool startedByHand, std::time_t now, std::string& error);
    void Post(StationNews news);

    std::array<std::unique_ptr<CChannel>, kPositions> m_channels;
    OnEvent m_onEvent;

    CAcquisitionTally m_tally;
    CMeterMetrics m_metrics;

    CAcquisitionPlan m_plan;
    bool m_bStartPending = false;
    std::atomic<bool> m_bAcqRunning{false}; // cleared by the worker at the end of a run
    std::string m_strAcqFile;
    std::vector<CChannel*> m_acqChannels; // the channels of the run, in header order
    uint64_t m_nRun = 0;                  // number of the latest run

    std::mutex m_newsLock;
    std::vector<StationNews> m_news;  // under m_newsLock: from the worker, for the next tick
    std::vector<uint64_t> m_finished; // under m_newsLock: runs that reached their end
    CAcquisitionWorker m_acqWorker;   // last: its thread posts news until it is joined
};
