#pragma once
// The serial ports offered for probing and selection: the entries of KELVARIN_PORTS first (device
// paths or URLs separated by ':', as the meter simulator prints them), then the ports the system
// reports, without repeats, at most kMaxPorts in all; with KELVARIN_PORTS_ONLY=1 the system's
// ports are left out. Then the network ports the user keeps in the profile (NetworkPortStore.h),
// which KELVARIN_PORTS_ONLY keeps: they are the user's own choice, not the machine's hardware. A
// system port with a stable name (/dev/serial/by-id/...) is listed by that name, which survives a
// re-plug where ttyUSB0 may become ttyUSB1.

#include <string>
#include <vector>

inline constexpr size_t kMaxPorts = 20;

std::vector<std::string> ListSerialPorts();
// The KELVARIN_PORTS part alone, for callers that must not ask the system.
std::vector<std::string> PortsFromEnvironment();
// The path in `folder` (a by-id folder) whose link leads to the same device as `devicePath`;
// empty when none does.
std::string StablePortName(const std::string& devicePath,
                           const std::string& folder = "/dev/serial/by-id");
