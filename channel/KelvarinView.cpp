// The commands of a pane: what the user asks of the pane becomes a request to its channel.

#include "channel/KelvarinView.h"

#include "channel/RepaintTicker.h"
#include "channel/ScaleSelect.h"
#include "detectors/DetectorDlg.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"

#include <QCloseEvent>

CKelvarinView::CKelvarinView(CChannel& channel, QWidget* parent)
    : QWidget(parent), m_channel(channel), m_ticker(CRepaintTicker::Acquire()) {
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole pane
    m_fontSmall = MakeFont({15, 8, 500});
    m_fontLarge = MakeFont({30, 15, 500});
    m_ticker->Add(this, [this] { OnRepaintTick(); });
}

CKelvarinView::~CKelvarinView() {
    m_ticker->Remove(this);
}

void CKelvarinView::OnRepaintTick() {
    const Shown now{m_channel.ReadingCount(), m_channel.Revision(), m_nDisplayMode,
                    m_channel.Alarm(),        m_channel.State(),    m_channel.IsSilent()};
    if (now == m_shown)
        return;
    m_shown = now;
    update();
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
        break;
    }
    OnRepaintTick();
}
