#pragma once
// The commands of kelvarin-cli. Each returns the process exit code: 0 success, 1 failure (with a
// message on the error stream), 2 usage.

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace Cli {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

struct StreamOptions {
    std::string port;
    long long count = -1;      // readings to print, -1 for no limit
    double timeoutSeconds = 0; // give up after this long without a reading, 0 for never
    bool stats = false;        // print the statistics table when the stream ends
};

int Ports(FILE* out);
// `ports` empty: every listed port; a port that cannot be opened is then only noted.
int Probe(const std::vector<std::string>& ports, FILE* out, FILE* err);
// Runs until the count is reached, the meter hangs up, the timeout passes or `stop` is set.
int Stream(const StreamOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err);
int ConfigShow(const std::string& serial, FILE* out, FILE* err);
int ConfigSet(const std::string& serial, const std::vector<std::string>& assignments, FILE* out,
              FILE* err);

// Single-byte meter and file text (code page 1252) made printable on a UTF-8 terminal: control
// characters become '?', other bytes above 0x7F their Latin-1 character.
std::string ToTerminal(const std::string& text);
// UTF-8 typed by the user to single-byte text; false when a character has no single byte.
bool FromTerminal(const std::string& text, std::string& singleByte);

} // namespace Cli
