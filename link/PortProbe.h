#pragma once
// The probe of several ports at once: each port on a thread of its own, with the exchange of
// DetectorProtocol::ProbePort unchanged, so eight ports take the time of one. Results are handed
// over as each port finishes (on that port's thread) and kept in the order of the ports.
// Destroying a probe cuts the exchanges under way short and joins every thread.

#include "link/DetectorProtocol.h"
#include "link/ExchangePacer.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CPortProbe {
public:
    // Called on the port's thread with the index of the port in the list and what it answered.
    using OnResult = std::function<void(size_t index, const DetectorProtocol::ProbeResult&)>;

    CPortProbe() = default;
    ~CPortProbe();
    CPortProbe(const CPortProbe&) = delete;
    CPortProbe& operator=(const CPortProbe&) = delete;

    // Starts one thread per port. `onResult` (may be empty) must stay callable until Wait or the
    // destructor returns.
    void Start(const std::vector<std::string>& ports, OnResult onResult = {});
    // Waits for every port; the results in the order of the ports.
    std::vector<DetectorProtocol::ProbeResult> Wait();

private:
    void Join();

    CExchangeGate m_gate;
    std::mutex m_lock;
    std::vector<DetectorProtocol::ProbeResult> m_results; // under m_lock
    std::vector<std::thread> m_threads;
};

// Probes every port at once and waits: the results in the order of the ports.
std::vector<DetectorProtocol::ProbeResult> ProbePorts(const std::vector<std::string>& ports);
