#pragma once
// One simulated meter on a real pseudo-terminal: it answers the command language like a meter
// and, after "*CAU", streams readings of a plausible laser until "*CSU". Faults can be switched
// on at any time to test how the rest of the system copes.

#include "sim/MeterCommandReader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

enum class MeterFault {
    None,
    NonNumberLines, // every reading is followed by a line that is not a number
    NoLineEnd,      // readings are separated by a blank, never by CR LF
    Silence,        // answers nothing and streams nothing
    HangUp,         // the meter is unplugged: the port disappears
};

// Parses "none", "garbage", "no-crlf", "silence", "hangup".
bool ParseMeterFault(const std::string& text, MeterFault& fault);

struct MeterProfile {
    std::string name;        // reply to "*NAM" (CR LF is added)
    std::string serialReply; // reply to "*SNN": a 4-character header, then the serial number
    double nominalWatts = 1e-3;
    double readingsPerSecond = 20.0;
    double noise = 0.005; // relative standard deviation of each reading
    bool drift = true;    // slow relative drift of a few percent over minutes
    uint32_t seed = 1;
    // A laser that fades: from `sagAfterSeconds` on (negative: never) the power sinks towards
    // (1 - sagDepth) of its value, two thirds of the way in `sagMinutes`.
    double sagAfterSeconds = -1;
    double sagDepth = 0;
    double sagMinutes = 1;
    // A meter slow to answer "*NAM" and "*SNN": the reply begins `replyDelayMs` after the
    // question; with `replyRestMs` above that, only its first half does, and the rest follows
    // `replyRestMs` after the question (a reply in two pieces).
    double replyDelayMs = 0;
    double replyRestMs = 0;
};

// The default meter of index i (0 to 7): names, serial numbers and powers spread over decades.
MeterProfile DefaultMeterProfile(int index);

// The power a meter reads at time t (s) with the wavelength set, before noise.
double ModelPower(const MeterProfile& profile, double tSeconds, int wavelengthNm);
// "%.3E" in the "C" locale, as the meters write readings: 1.234E-03.
std::string FormatReading(double watts);

struct ReceivedByte {
    char byte;
    // Steady clock, when the simulator had read it: never before the byte was written, and late
    // by as long as a busy machine kept the simulator from reading.
    double timeMs;
};

class CMeterSimulator {
public:
    explicit CMeterSimulator(MeterProfile profile);
    ~CMeterSimulator(); // stops the thread and closes the pseudo-terminal
    CMeterSimulator(const CMeterSimulator&) = delete;
    CMeterSimulator& operator=(const CMeterSimulator&) = delete;

    // Opens the pseudo-terminal (raw) and starts answering. False with `error` on failure.
    bool Start(std::string& error);
    void Stop();

    // Device path of the pseudo-terminal's slave side the meter is on now (a re-plug changes it).
    std::string PortPath() const;
    // A symbolic link the simulator keeps pointing at its current port, as the system keeps
    // /dev/serial/by-id/... for a real adapter. Set before Start; removed by Stop.
    void SetLinkPath(std::string linkPath) { m_linkPath = std::move(linkPath); }
    // The link when there is one, else PortPath(): the name to connect through.
    std::string StablePath() const;
    const MeterProfile& Profile() const { return m_profile; }

    void SetFault(MeterFault fault);
    // The cable pulled and plugged in again: the port hangs up now and, `downMs` later, the meter
    // is back on a new pseudo-terminal (the link is gone meanwhile and then names it), stopped
    // and at its power-on wavelength and anticipation, as a meter that was switched off.
    void Replug(int downMs);
    // Ends the time out of a re-plug now: a test holds a meter out for as long as its checks of
    // the lost state take, however slowly the machine runs them, then brings it back.
    void PlugIn();
    // Re-plugs completed since Start.
    int ReplugCount() const { return m_replugs.load(); }
    MeterFault Fault() const { return m_fault.load(); }
    void SetReadingsPerSecond(double rate);

    bool IsStreaming() const { return m_streaming.load(); }
    int Wavelength() const { return m_wavelength.load(); }
    bool Anticipation() const { return m_anticipation.load(); }
    // False once the port that was opened is closed again: nobody listens, nothing is sent.
    bool HasListener() const { return m_listening.load(); }
    // Reading lines written whole to the port since Start.
    uint64_t ReadingsSent() const { return m_readingsSent.load(); }
    // Told on the meter's thread of each reading once written whole: its number (from 1, as
    // ReadingsSent counts them) and when it was written (steady clock, ms). Set before Start.
    using SentObserver = std::function<void(uint64_t number, double writtenMs)>;
    void SetSentObserver(SentObserver observer) { m_sentObserver = std::move(observer); }

    // The most recent bytes received (at most kLogSize) with their arrival times, the commands
    // decoded (at most kLogSize) and the reading texts sent (at most kLogSize).
    std::vector<ReceivedByte> ReceivedBytes() const;
    std::vector<MeterCommand> ReceivedCommands() const;
    std::vector<std::string> SentReadings() const;
    void ClearLogs();
    static constexpr size_t kLogSize = 4096;

private:
    enum class SendResult { Whole, Partial, Dropped };

    void Run();
    // Reads and decodes what the port holds now.
    void ReadCommands();
    void Handle(const MeterCommand& command);
    SendResult Send(const std::string& text);
    bool FlushPending();
    void StreamDue(double nowMs);
    void CloseMaster();
    void BeginReplug(int downMs);
    void FinishReplug();
    bool PointLink(const std::string& target, std::string& error);
    void LogReading(const std::string& text);
    // An answer to a question, sent now or when the profile's delays say.
    void Answer(const std::string& text);
    void SendDueAnswers(double nowMs);

    MeterProfile m_profile;
    mutable std::mutex m_pathLock; // m_portPath, which the thread changes at a re-plug
    std::string m_portPath;
    std::string m_linkPath; // set before Start only
    int m_master = -1;
    std::atomic<int> m_replugDownMs{-1}; // a re-plug asked for, -1 for none
    std::atomic<bool> m_plugInNow{false};
    std::atomic<int> m_replugs{0};
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<MeterFault> m_fault{MeterFault::None};
    std::atomic<double> m_rate;
    std::atomic<bool> m_streaming{false};
    std::atomic<int> m_wavelength{1064};
    std::atomic<bool> m_anticipation{true};
    std::atomic<uint64_t> m_readingsSent{0};
    std::atomic<bool> m_listening{true};

    // Used by the thread only.
    CMeterCommandReader m_reader;
    std::string m_pending;        // rest of a line the port took only part of
    std::string m_pendingReading; // reading text of that line, counted once it is whole
    bool m_peerAbsent = false;    // the port was opened and closed again: nobody listens
    int m_nextMaster = -1;        // the pseudo-terminal of a re-plug, open while the meter is out
    std::string m_nextPath;
    double m_replugDueMs = 0;
    double m_startMs = 0;
    double m_nextDueMs = 0;
    double m_nowMs = 0;
    double m_emptyMs = 0;  // when the port was last seen with nothing more to read
    bool m_errLine = true; // which non-number line comes next
    struct DueAnswer {
        double dueMs;
        std::string text;
    };
    std::vector<DueAnswer> m_answers; // pieces of answers not sent yet, in the order due
    std::mt19937 m_random;
    std::normal_distribution<double> m_normal;

    SentObserver m_sentObserver; // set before the thread starts
    mutable std::mutex m_logLock;
    std::vector<ReceivedByte> m_bytes;
    std::vector<MeterCommand> m_commands;
    std::vector<std::string> m_sent;
};

// The name of a meter's stable link, in the style of /dev/serial/by-id: built from its serial.
std::string LinkName(const MeterProfile& profile);

// Several meters, as kelvarin-sim and the application's demo mode start them.
class CSimulatorSet {
public:
    // Starts `count` meters with the default profiles of indexes 0 to count - 1.
    bool Start(int count, std::string& error, const std::string& linkDir = std::string());
    // Starts one meter per profile (1 to 8 of them). With a link folder each meter gets a stable
    // link there (LinkName) and is reached through it.
    bool Start(const std::vector<MeterProfile>& profiles, std::string& error,
               const std::string& linkDir = std::string());
    void Stop();
    size_t Size() const { return m_meters.size(); }
    CMeterSimulator& Meter(size_t index) { return *m_meters[index]; }
    // The stable paths of the meters (their links, or their ports without links).
    std::vector<std::string> PortPaths() const;
    // The paths joined by ':', as KELVARIN_PORTS takes them.
    std::string PortsVariable() const;

private:
    std::vector<std::unique_ptr<CMeterSimulator>> m_meters;
};
