// kelvarin-cli analyze: the post-analysis window's figures for a script, from the same reader and
// the same statistics and texts.

#include "cli/CliCommands.h"

#include "acquisition/AcquisitionReader.h"
#include "analysis/AnalysisRules.h"
#include "link/NumberText.h"
#include "link/ParallelWork.h"
#include "render/StatisticsTable.h"

#include <vector>

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
    struct Figures {
        size_t column;
        float from;
        float to;
        CStatistics stats;
    };
    std::vector<Figures> figures;
    figures.reserve(data.m_series.size());
    for (size_t column = 0; column < data.m_series.size(); ++column) {
        const std::vector<CGraphData>& samples = data.m_series[column];
        if (samples.empty())
            continue;
        // As the window shows a channel when it is chosen: from its first to its last sample.
        figures.push_back({column, options.hasFrom ? options.from : samples.front().fTime,
                           options.hasTo ? options.to : samples.back().fTime, CStatistics()});
        figures.back().stats.Reset();
        figures.back().stats.m_bEnabled = true;
    }
    // Four channels side by side on each processor.
    std::vector<std::vector<CVisibleRun>> groups((figures.size() + 3) / 4);
    for (size_t i = 0; i < figures.size(); ++i) {
        Figures& f = figures[i];
        groups[i % groups.size()].push_back({&f.stats, &data.m_series[f.column], f.from, f.to});
    }
    RunOnThreads(groups.size(), static_cast<unsigned>(groups.size()),
                 [&groups](size_t g) { VisibleStatisticsSideBySide(groups[g]); });

    for (const Figures& f : figures) {
        const std::string name = f.column < data.m_names.size() ? data.m_names[f.column] : "";
        std::fprintf(out, "%zu\t%s\t%d\t%s\t%s", f.column + 1, ToTerminal(name).c_str(),
                     f.stats.m_nCount, FormatG(f.from).c_str(), FormatG(f.to).c_str());
        for (const auto& [label, value] : StatisticsPanelLines(f.stats, "W"))
            std::fprintf(out, "\t%s", ToTerminal(value).c_str());
        std::fprintf(out, "\n");
    }
    return data.m_bStopped ? kFailure : kSuccess;
}

} // namespace Cli
