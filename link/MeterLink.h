#pragma once
// The link to one meter over its port, kept across an unplugged cable: a hang-up or an I/O error
// closes the port and makes the link lost; a lost link tries its port again every two seconds and
// takes the meter back when the same serial number answers, with the settings it had.
//
// Poll runs on one thread (a channel's worker); the state may be read from any thread. The owner
// opens the port and calls SetConnected on that thread; SetConnecting and SetClosed may come from
// another thread at any time.

#include "link/DetectorProtocol.h"
#include "link/MeterStream.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

class ComAccess;

// Connecting: bound to a port whose meter is being opened and started, not answering yet.
enum class LinkState { Closed, Connecting, Connected, Lost };
enum class LinkEvent { None, Lost, Resumed };

class CMeterLink {
public:
    explicit CMeterLink(ComAccess& port);

    // The owner is about to open `portName` and start its meter.
    void SetConnecting(const std::string& portName);
    // The owner opened `portName` and started the meter.
    void SetConnected(const std::string& portName);
    // The owner closes the port for good (Close Port, exit): no more tries.
    void SetClosed();

    LinkState State() const { return m_state.load(); }
    bool IsConnected() const { return State() == LinkState::Connected; }
    // Connected or lost: the link has a meter, present or not.
    bool IsBound() const { return State() != LinkState::Closed; }
    // Calendar time the link was lost (0 before any loss).
    std::time_t LostAt() const { return m_lostAt.load(); }
    std::string PortName() const;

    // One pass. Connected: reads what is queued and hands over each reading calibrated with the
    // gain and offset; a port gone away is closed and the link lost. Lost: when kRetryMs have
    // passed since the last try, tries the port with the settings `resume` gives (the pass then
    // takes about a second when the meter answers, less when `pacer` is cut short).
    LinkEvent Poll(float gain, float offset, const std::function<void(float)>& onReading,
                   const std::function<DetectorProtocol::ResumeSettings()>& resume,
                   const CExchangePacer& pacer = CExchangePacer::Uncut());
    // The owner's write to a connected meter failed: the port is closed and the link lost, as
    // when a read fails. False when the link was not connected.
    bool SetLost(const PortError& reason);

    // The port's failure that lost the link.
    const PortError& LossReason() const { return m_lossReason; }

    static constexpr uint32_t kRetryMs = 2000;

private:
    LinkEvent TryResume(const std::function<DetectorProtocol::ResumeSettings()>& resume,
                        const CExchangePacer& pacer);

    ComAccess& m_port;
    CMeterStream m_stream; // the worker only
    std::atomic<LinkState> m_state{LinkState::Closed};
    std::atomic<std::time_t> m_lostAt{0};
    uint32_t m_lastTryTicks = 0; // the worker only
    PortError m_lossReason;      // the worker only
    mutable std::mutex m_nameLock;
    std::string m_portName;
};
