#pragma once
// The main window: eight panes in a two-by-four grid shown as a mosaic or one alone, the menus,
// toolbar and status bar, the auto-detection list two seconds after start-up, the commands that
// act on every position at once, the acquisition parameters and the profile.
//
// The bench itself is the station (Qt-free): it owns each position's channel, binds the
// detectors of the list to positions and records the acquisitions, exactly as kelvarin-cli's
// commands do; the frame asks it and shows what it tells at the 100 ms status tick. It never
// waits for a meter: binding, like every command to a meter, is a request a channel carries out.
//
// The window also serves the metrics page of the station when asked (the command line for this
// run, or "Remote Monitoring"); the page is read on the server's threads, never this one.

#include "app/PaneGrid.h"
#include "channel/Channel.h"
#include "detectors/AutoDetectDlg.h"
#include "detectors/NetworkPortsDlg.h"
#include "monitor/MetricsExporter.h"
#include "station/MeterStation.h"

#include <QMainWindow>
#include <QTimer>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

class CKelvarinView;
class CKelvarinDoc;
class QAction;
class QLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainFrame(CKelvarinDoc* document = nullptr, QWidget* parent = nullptr);
    ~CMainFrame() override;

    static constexpr int kPositions = 8;
    static constexpr int kStatusPeriodMs = 100;
    static constexpr int kAutoDetectDelayMs = 2000;

    CKelvarinView* GetView(int position) const;
    CChannel& GetChannel(int position);
    const CChannel& GetChannel(int position) const;
    int ConnectedCount() const;
    QString StatusText() const;
    void UpdateTitle();

    // Commands.
    void OnMosaic(int layout); // 1, 2, 3, 4 or 8
    void OnFullScreen(int position);
    void RunAutoDetection();
    void OnSaveDetectorConfiguration();
    // "Network Ports...": a changed list is probed afresh at the next auto-detection.
    void OnNetworkPorts();
    void OnResetGraphics();
    void OnResetStatistics();
    void OnResetAlarms();
    void OnResetAll();
    void OnAbout();
    void OnCommand(int id);

    // Settings and screenshots.
    void OnScreenshotSettings();
    void OnGraphicalParameters();
    void OnRemoteMonitoring();
    void OnCaptureScreen();
    // Saves the picture of the window named for `when`; the message names the file, or says
    // it could not be saved.
    void SaveScreenshotAt(std::time_t when);
    // The window's client area: all but its menu bar.
    QRect ClientArea() const;

    // The exporter of start-up: on `commandLine` when given (for this run, with the password and
    // TLS files of the profile), else as the profile says. A failure is told once the window
    // shows, and the window goes on without it.
    void StartMetrics(const std::optional<MetricsEndpoint>& commandLine);
    // Puts the settings in effect: starts, stops or restarts the server (not when it already
    // serves them) and says what it does then.
    MetricsState ApplyMetrics(const MetricsSettings& settings) {
        return m_exporter.Apply(settings);
    }
    MetricsState MetricsNow() const { return m_exporter.Now(); }
    const CMetricsServer& MetricsServer() const { return m_exporter.Server(); }

    // A recorded file, while live acquisition and polling go on behind.
    void OnPostAnalysis();

    // Acquisition.
    void OnAcquisitionParameters();
    void OnStartAcquisition();
    void OnStopAcquisition();

    // What the panes tell the frame.
    void OnShowPositionFull(int position);

    CPaneGrid* Grid() const { return m_wndSplitter; }
    CMeterStation& Station() { return m_station; }
    const CMeterStation& Station() const { return m_station; }
    // The run going or last ended (null before the first).
    const CAcquisitionRun* CurrentAcquisition() const { return m_station.CurrentRun(); }
    QLabel* StatusPane() const { return m_statusText; }

    CAutoDetectDlg m_dlgAutoDetect;
    CNetworkPortsDlg m_dlgNetworkPorts;
    int m_nLayout = 8;
    std::string m_strScreenshotBase;
    int m_nGraphBufferSize = 2000;

private:
    void CreateMenus();
    void CreateToolBar();
    void OnStatusTimer();
    void ApplyLayoutForCount(int assigned);
    // What the station tells from its tick: a run completed, a line that could not be written,
    // a scheduled run that could not begin or whose window ended with no detector connected.
    void TellStationNews(const std::vector<StationNews>& news);
    void UpdateAcquisitionButtons();
    // Tells, in one message, what the channels' requests could not do since the last tick.
    void ReportChannelFailures();

    CKelvarinDoc* m_pDocument;
    // The bench, for the frame's whole life; its panes go before it, and the exporter that
    // serves its page goes before it too (stopped, no scrape under way).
    CMeterStation m_station;
    CMetricsExporter m_exporter{m_station.Metrics()};
    CPaneGrid* m_wndSplitter;
    QLabel* m_statusText;
    QTimer m_statusTimer;
    QTimer m_autoDetectTimer;
    QAction* m_actionStartAcq = nullptr;
    QAction* m_actionStopAcq = nullptr;
};
