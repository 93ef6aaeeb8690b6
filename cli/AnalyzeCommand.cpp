// kelvarin-cli analyze: the post-analysis window's figures for a script, from the same reader and
// the same statistics and texts.

#include "cli/CliCommands.h"

#include "acquisition/AcquisitionReader.h"
#include "analysis/AnalysisRules.h"
#include "link/NumberText.h"
#include "render/StatisticsTable.h"

namespace Cli {

int Analyze(const AnalyzeOptions& options, FILE* out, FILE* err) {
    CAcquisitionData data;
    std::string error;
    const bool read = LoadAcquisitionFile(options.file, data, error);
    for (const std::string& message : data.m_messages)
        std::fprintf(err, "%s\n", ToTerminal(message).c_str());
    if (!read) {
        std::fprintf(err, "%s\n", error.c_str());
        return kFailure;
    }
    std::fprintf(out, "channel\tname\tsamples\tfrom\tto\tAverage\tMaximum\tMinimum\tRMS "
                      "Stability\tPTP Stability\tStd Dev\n");
    for (size_t column = 0; column < data.m_series.size(); ++column) {
        const std::vector<CGraphData>& samples = data.m_series[column];
        if (samples.empty())
            continue;
        // As the window shows a channel when it is chosen: from its first to its last sample.
        const float from = options.hasFrom ? options.from : samples.front().fTime;
        const float to = options.hasTo ? options.to : samples.back().fTime;
        CStatistics stats;
        stats.Reset();
        stats.m_bEnabled = true;
        VisibleStatistics(stats, samples, from, to);
        const std::string name = column < data.m_names.size() ? data.m_names[column] : "";
        std::fprintf(out, "%zu\t%s\t%d\t%s\t%s", column + 1, ToTerminal(name).c_str(),
                     stats.m_nCount, FormatG(from).c_str(), FormatG(to).c_str());
        for (const auto& [label, value] : StatisticsPanelLines(stats, "W"))
            std::fprintf(out, "\t%s", ToTerminal(value).c_str());
        std::fprintf(out, "\n");
    }
    return data.m_bStopped ? kFailure : kSuccess;
}

} // namespace Cli
