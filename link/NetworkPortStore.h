#pragma once
// The network ports the user keeps (rfc2217:// and socket:// URLs of meters behind serial device
// servers), stored in the per-user profile ("NetworkPorts"/"Ports", the URLs separated by
// blanks) so that the window and kelvarin-cli offer the same ones. A URL that is not well formed
// is never stored, and one found stored (a hand-edited profile) is left out of the list with the
// reason.

#include <string>
#include <vector>

inline constexpr size_t kMaxNetworkPorts = 20;

struct StoredNetworkPorts {
    std::vector<std::string> ports;  // well formed, without repeats, in the order kept
    std::vector<std::string> errors; // one per entry left out, naming it and why
};

StoredNetworkPorts ReadNetworkPorts();
// Keeps `ports` as the whole list (an empty one clears it). False with `error` when one is not a
// well-formed URL or the profile cannot be written; the stored list is then unchanged.
bool WriteNetworkPorts(const std::vector<std::string>& ports, std::string& error);

// Whether `name` is a well-formed network port URL; false with `error` naming it and why.
bool CheckNetworkPort(const std::string& name, std::string& error);

// The profile's text of a list and back; blanks separate the URLs, which hold none.
std::string JoinNetworkPorts(const std::vector<std::string>& ports);
StoredNetworkPorts SplitNetworkPorts(const std::string& text);
