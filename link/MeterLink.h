#pragma once
// The link to one meter over its port, kept across an unplugged cable: a hang-up or an I/O error
// closes the port and makes the link lost; a lost link tries its port again every two seconds and
// takes the meter back when the same serial number answers, with the settings it had.
//
// Only one thread (a channel's worker) changes the link and uses its port; the state may be read
// from any thread.

#include "link/DetectorProtocol.h"
#include "link/MeterStream.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

class ComAccess;

// Connecting: bound to a port whose meter is being opened and started, not answering yet (a
// channel's view of a link whose owner has asked for it).
enum class LinkState { Closed, Connecting, Connected, Lost };
enum class LinkEvent { None, Lost, Resumed };

class CMeterLink {
public:
    explicit CMeterLink(ComAccess& port);

    // The owner opened `portName` and started the meter.
    void SetConnected(const std::string& portName);
    // The owner closed the port for good (Close Port, exit): no more tries.
    void SetClosed();

    // Closed, Connected or Lost.
    LinkState State() const { return m_state.load(); }
    bool IsConnected() const { return State() == LinkState::Connected; }
    // Calendar time the link was lost (0 before any loss).
    std::time_t LostAt() const { return m_lostAt.load(); }
    std::string PortName() const;

    // Connected: reads what is queued and hands over each reading calibrated with the gain and
    // offset; a port gone away is closed and the link lost (Lost).
    LinkEvent ReadStream(float gain, float offset, const std::function<void(float)>& onReading);
    // Lost: milliseconds until the port is to be tried again, 0 when it is due.
    uint32_t MsUntilRetry() const;
    // Lost: tries the port with the settings `resume` gives (about a second when the meter
    // answers, less when `pacer` is cut short); Resumed when the same meter answers.
    LinkEvent TryResume(const std::function<DetectorProtocol::ResumeSettings()>& resume,
                        const CExchangePacer& pacer);
    // The owner's write to a connected meter failed: the port is closed and the link lost, as
    // when a read fails. False when the link was not connected.
    bool SetLost(const PortError& reason);

    // The port's failure that lost the link.
    const PortError& LossReason() const { return m_lossReason; }

    static constexpr uint32_t kRetryMs = 2000;

private:
    ComAccess& m_port;
    CMeterStream m_stream; // the worker only
    std::atomic<LinkState> m_state{LinkState::Closed};
    std::atomic<std::time_t> m_lostAt{0};
    uint32_t m_lastTryTicks = 0; // the worker only
    PortError m_lossReason;      // the worker only
    mutable std::mutex m_nameLock;
    std::string m_portName;
};
