#include "link/PortProbe.h"

#ifdef __linux__
#include <pthread.h>
#endif

CPortProbe::~CPortProbe() {
    m_gate.Advance(); // every exchange under way ends at its next pause or byte
    Join();
}

void CPortProbe::Start(const std::vector<std::string>& ports, OnResult onResult) {
    Join();
    const CExchangePacer pacer(m_gate, m_gate.Generation());
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_results.assign(ports.size(), DetectorProtocol::ProbeResult());
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        m_threads.emplace_back([this, i, port = ports[i], onResult, pacer] {
#ifdef __linux__
            pthread_setname_np(pthread_self(), "kv-probe");
#endif
            const DetectorProtocol::ProbeResult result = DetectorProtocol::ProbePort(port, pacer);
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_results[i] = result;
            }
            if (onResult)
                onResult(i, result);
        });
    }
}

std::vector<DetectorProtocol::ProbeResult> CPortProbe::Wait() {
    Join();
    std::lock_guard<std::mutex> guard(m_lock);
    return m_results;
}

void CPortProbe::Join() {
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
    m_threads.clear();
}

std::vector<DetectorProtocol::ProbeResult> ProbePorts(const std::vector<std::string>& ports) {
    CPortProbe probe;
    probe.Start(ports);
    return probe.Wait();
}
