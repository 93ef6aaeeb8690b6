#pragma once
// The serial ports offered for probing and selection: the entries of KELVARIN_PORTS first (device
// paths separated by ':', as the meter simulator prints them), then the ports the system reports,
// without repeats, at most kMaxPorts in all. With KELVARIN_PORTS_ONLY=1 the system's ports are
// left out.

#include <string>
#include <vector>

inline constexpr size_t kMaxPorts = 20;

std::vector<std::string> ListSerialPorts();
// The KELVARIN_PORTS part alone, for callers that must not ask the system.
std::vector<std::string> PortsFromEnvironment();
