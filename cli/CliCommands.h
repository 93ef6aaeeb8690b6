#pragma once
// The commands of kelvarin-cli. Each returns the process exit code: 0 success, 1 failure (with a
// message on the error stream), 2 usage.

#include "monitor/MetricsServer.h"
#include "render/DisplayUnit.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace Cli {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

struct StreamOptions {
    std::string port;
    long long count = -1;                 // readings to print, -1 for no limit
    double timeoutSeconds = 0;            // give up after this long without a reading, 0 for never
    bool stats = false;                   // print the statistics table when the stream ends
    DisplayUnit unit = DisplayUnit::Watt; // of the third column
    double reference = 0;                 // W, for dB and %; 0: the head's kept reference
};

// An unattended acquisition: the same file the window records, from every meter that answers.
struct RecordOptions {
    std::string prefix;           // path prefix of the file
    int32_t periodSeconds = 1;    // sampling period
    int32_t durationSeconds = 60; // by period: the duration
    bool byTime = false;          // by time: from `start` to `end` instead
    std::time_t start = 0;
    std::time_t end = 0;
    std::vector<std::string> ports; // empty: every listed port
    int firstReadingWaitMs = 5000;  // how long to wait for every meter's first reading
    bool serveMetrics = false;      // serve the metrics page of the meters while recording
    MetricsEndpoint metrics;
};

// The meters of the ports watched headless: their metrics page served until stopped.
struct MonitorOptions {
    MetricsEndpoint metrics;
    std::vector<std::string> ports; // empty: every listed port
};

int Ports(FILE* out, FILE* err);
// `ports` empty: every listed port; a port that cannot be opened is then only noted.
int Probe(const std::vector<std::string>& ports, FILE* out, FILE* err);
// Runs until the count is reached, the meter hangs up, the timeout passes or `stop` is set.
int Stream(const StreamOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err);
// Stops like "Stop Acquisition" when `stop` is set (the last line whole, every meter stopped).
int Record(const RecordOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err);
// Prints the URL it serves first; serves until `stop` is set, then stops every meter.
int Monitor(const MonitorOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err);
// The figures of the post-analysis panel for each value column of an acquisition file, over
// [from, to] (seconds after the file's start; a channel's first and last sample when absent).
struct AnalyzeOptions {
    std::string file;
    bool hasFrom = false;
    bool hasTo = false;
    float from = 0.0f;
    float to = 0.0f;
};
int Analyze(const AnalyzeOptions& options, FILE* out, FILE* err);
int ConfigShow(const std::string& serial, FILE* out, FILE* err);
int ConfigSet(const std::string& serial, const std::vector<std::string>& assignments, FILE* out,
              FILE* err);

// Single-byte meter and file text (code page 1252) made printable on a UTF-8 terminal: control
// characters become '?', other bytes above 0x7F their Latin-1 character.
std::string ToTerminal(const std::string& text);
// "YYYY-MM-DD HH:MM:SS" as local time; false when it is not a valid date and time.
bool ParseLocalDateTime(const std::string& text, std::time_t& t);
// UTF-8 typed by the user to single-byte text; false when a character has no single byte.
bool FromTerminal(const std::string& text, std::string& singleByte);

} // namespace Cli
