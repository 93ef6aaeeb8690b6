// The post-analysis statistics panel: the one piece of CStatistics that paints.

#include "render/Statistics.h"

#include "gui/SingleByteText.h"
#include "render/StatisticsTable.h"

#include <QPainter>

void CStatistics::DrawStatisticsPanel(QPainter& painter) {
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(QColor(0, 0, 0));
    const auto lines = StatisticsPanelLines(*this, m_strUnit.empty() ? "W" : m_strUnit);
    std::string* texts[] = {&m_strMean,         &m_strMaximum,      &m_strMinimum,
                            &m_strRmsStability, &m_strPtpStability, &m_strStdDev};
    for (size_t k = 0; k < lines.size(); ++k) {
        *texts[k] = lines[k].second;
        const QRect row(655, 87 + 20 * static_cast<int>(k), 845 - 655,
                        880 - 87 - 20 * static_cast<int>(k));
        painter.drawText(row, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         ToQt(lines[k].first));
        painter.drawText(row, Qt::AlignRight | Qt::AlignTop | Qt::TextDontClip,
                         ToQt(lines[k].second));
    }
}
