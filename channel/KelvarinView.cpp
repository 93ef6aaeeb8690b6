// The commands of a pane: what the user asks of the pane becomes a request to its channel.

#include "channel/KelvarinView.h"

#include "channel/RepaintTicker.h"
#include "channel/ScaleSelect.h"
#include "detectors/DetectorDlg.h"
#include "detectors/DisplayAidsFile.h"
#include "gui/MessageBox.h"
#include "render/ValueFormat.h"
#include "res/CommandIds.h"

#include <QCloseEvent>

#include <utility>

CKelvarinView::CKelvarinView(CChannel& channel, QWidget* parent)
    : QWidget(parent), m_channel(channel), m_ticker(CRepaintTicker::Acquire()),
      m_tuningTicker(CRepaintTicker::Acquire(CRepaintTicker::kTuningIntervalMs)),
      m_largeTexts(CLargeTextCache::Acquire()) {
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole pane
    m_fontSmall = MakeFont({15, 8, 500});
    m_fontLarge = MakeFont({30, 15, 500});
    m_ticker->Add(this, [this] { OnRepaintTick(); });
}

CKelvarinView::~CKelvarinView() {
    m_ticker->Remove(this);
    m_tuningTicker->Remove(this);
}

void CKelvarinView::FollowDisplayMode() {
    const bool tuning = m_nDisplayMode == Tuning;
    if (tuning == m_bOnTuningTicker)
        return;
    m_bOnTuningTicker = tuning;
    if (tuning)
        m_tuningTicker->Add(this, [this] { OnRepaintTick(); });
    else
        m_tuningTicker->Remove(this); // the last one stops its timer
}

void CKelvarinView::OnRepaintTick() {
    FollowDisplayMode();
    const Shown now{m_channel.ReadingCount(), m_channel.Revision(), m_nDisplayMode,
                    m_channel.Alarm(),        m_channel.State(),    m_channel.IsSilent()};
    if (now == m_shown)
        return;
    // In the tuning display, new readings alone change the value, the bar and the peak only:
    // the title, the names and the foot stay as painted.
    const bool readingsOnly = m_nDisplayMode == Tuning && m_shown.mode == Tuning &&
                              now.revision == m_shown.revision && now.alarm == m_shown.alarm &&
                              now.state == m_shown.state && now.silent == m_shown.silent;
    m_shown = now;
    if (m_nDisplayMode != Tuning) {
        update();
        return;
    }
    const TuningLayout layout = TuningGeometry();
    const TuningFrame frame = TuningContent(m_channel.Value(), ValueColor(State()), layout.bar);
    const TuningFrame shown = std::exchange(m_tuningShown, frame);
    if (!readingsOnly) {
        update();
        return;
    }
    QRegion changed;
    if (frame.value != shown.value || frame.color != shown.color)
        changed += layout.valueRow;
    if (frame.filled != shown.filled || frame.markX != shown.markX || frame.color != shown.color)
        changed += layout.barRows;
    if (frame.fullScale != shown.fullScale || frame.peak != shown.peak)
        changed += layout.labelRows;
    if (!changed.isEmpty())
        update(changed);
}

void CKelvarinView::OnChannelConfiguration() {
    CDetectorDlg dialog(this);
    dialog.m_config = m_channel.Config();
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The record and its level lines at once; the meter gets its wavelength and anticipation
    // from the channel's worker.
    m_channel.RequestConfigure(dialog.m_config);
    emit channelConfigured(dialog.m_config.m_nPosition);
    update();
}

void CKelvarinView::IdentifyMeter() {
    if (IsBound())
        return;
    if (m_dlgCom.exec() != QDialog::Accepted)
        return;
    // The dialog proved the port opens; the channel's worker opens it for itself.
    m_dlgCom.Close();
    m_channel.RequestIdentify(m_dlgCom.m_strPort);
}

void CKelvarinView::ClosePort() {
    m_channel.RequestClose();
}

void CKelvarinView::closeEvent(QCloseEvent* event) {
    // A close request addressed to the pane itself, never the application's exit.
    KelvarinMessageBox(this, QStringLiteral("Closing!"));
    ClosePort();
    QWidget::closeEvent(event);
}

void CKelvarinView::DestroyWindow() {
    KelvarinMessageBox(this, QStringLiteral("DestroyWindow!"));
    if (IsBound()) {
        KelvarinMessageBox(this, QStringLiteral("Closing Port!"));
        ClosePort();
    }
    hide();
}

void CKelvarinView::OnCommand(int id) {
    switch (id) {
    case Command::FullScreen:
        emit showPositionFull(m_channel.Config().m_nPosition);
        break;
    case Command::RealTimeDisplay:
    case Command::RealTimeDisplayAlt:
        m_nDisplayMode = RealTime;
        break;
    case Command::GraphicDisplay:
        m_nDisplayMode = Graphic;
        break;
    case Command::StatisticsDisplay:
        // Statistics count from the first time this display is chosen, for good.
        m_nDisplayMode = Statistics;
        m_channel.EnableStatistics();
        break;
    case Command::TuningDisplay:
        // The peak holds from the moment the display is chosen.
        if (m_nDisplayMode != Tuning)
            m_channel.ResetPeak();
        m_nDisplayMode = Tuning;
        break;
    case Command::ResetPeak:
        m_channel.ResetPeak();
        break;
    case Command::Zero:
        OnZero();
        break;
    case Command::ClearZero: {
        CDisplayAids aids = m_channel.DisplayAids();
        aids.m_fZero = 0.0f;
        ChangeAids(aids);
        break;
    }
    case Command::UnitWatt:
    case Command::UnitDbm:
    case Command::UnitDb:
    case Command::UnitPercent: {
        static constexpr DisplayUnit units[] = {DisplayUnit::Watt, DisplayUnit::Dbm,
                                                DisplayUnit::Db, DisplayUnit::Percent};
        CDisplayAids aids = m_channel.DisplayAids();
        aids.m_unit = units[id - Command::UnitWatt];
        ChangeAids(aids);
        break;
    }
    case Command::ReferenceCurrentValue:
        OnReferenceCurrentValue();
        break;
    case Command::ReferenceNone: {
        CDisplayAids aids = m_channel.DisplayAids();
        aids.SetNoReference();
        ChangeAids(aids);
        break;
    }
    case Command::ChannelConfiguration:
        OnChannelConfiguration();
        break;
    case Command::ResetGraphic:
        m_channel.ResetGraph();
        break;
    case Command::ResetStatistics:
        m_channel.ResetStatistics();
        break;
    case Command::ResetAlarms:
        m_channel.ResetAlarm();
        break;
    case Command::ClosePort:
        ClosePort();
        break;
    case Command::IdentifyMeter:
        IdentifyMeter();
        break;
    default:
        if (id >= Command::ReferencePosition1 && id <= Command::ReferencePosition8) {
            CDisplayAids aids = m_channel.DisplayAids();
            aids.SetReferencePosition(id - Command::ReferencePosition1);
            ChangeAids(aids);
        }
        break;
    }
    OnRepaintTick();
}

void CKelvarinView::ChangeAids(const CDisplayAids& aids) {
    m_channel.SetDisplayAids(aids);
    const CChannelConfig config = m_channel.Config();
    if (config.m_strSerial.empty())
        return; // no head identified: nothing to keep them for
    std::string error;
    if (!SaveDisplayAidsFile(config.m_strSerial, aids, error))
        KelvarinMessageBox(this, QString::fromStdString(error)); // in use, but not kept
}

void CKelvarinView::OnZero() {
    if (!m_channel.TakeZero()) {
        KelvarinMessageBox(this, QStringLiteral("No reading in the last second to take as zero"));
        return;
    }
    ChangeAids(m_channel.DisplayAids());
}

void CKelvarinView::OnReferenceCurrentValue() {
    float value = 0.0f;
    if (!m_channel.LiveValue(value)) {
        KelvarinMessageBox(this, QStringLiteral("No live reading to take as reference"));
        return;
    }
    CDisplayAids aids = m_channel.DisplayAids();
    if (!aids.SetReferenceWatts(WattsAsDouble(value))) { // the reading's decimal, kept
        KelvarinMessageBox(this, QStringLiteral("The reading is not above 0 W: no reference"));
        return;
    }
    ChangeAids(aids);
}

double CKelvarinView::ReferenceWatts(const CDisplayAids& aids) const {
    return ReferencePower(aids, [this](int position, float& watts) {
        const CChannel* other = m_bench ? m_bench(position) : nullptr;
        return other && other->LiveValue(watts);
    });
}
