#pragma once
// The main window: eight panes in a two-by-four grid shown as a mosaic or one alone, the menus,
// toolbar and status bar, the auto-detection that binds meters to positions two seconds after
// start-up, the commands that act on every position at once, and the acquisitions: a start by
// hand for a duration, or a time window that starts by itself from the 100 ms status timer.
//
// Each position's meter lives in a channel (the Qt-free core, with its own worker) that the
// frame owns and its pane shows; the frame never waits for a meter: binding a detector, like
// every command to a meter, is a request the channel carries out. An acquisition's worker
// samples the channels itself and writes the file, so it never waits for this thread and closing
// the window can always stop and join it.
//
// The window also serves the metrics page of its eight channels and its acquisitions when asked
// (the command line or "Remote Monitoring"); the page is read on the server's threads, from the
// channels and the acquisitions' tally, never from this thread.

#include "acquisition/AcquisitionEngine.h"
#include "app/PaneGrid.h"
#include "channel/Channel.h"
#include "detectors/AutoDetectDlg.h"
#include "detectors/ChannelConfig.h"
#include "gui/UiThreadQueue.h"
#include "monitor/MeterMetrics.h"
#include "monitor/MetricsDlg.h"
#include "monitor/MetricsServer.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
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
    CChannel& GetChannel(int position) const;
    int ConnectedCount() const;
    QString StatusText() const;
    void UpdateTitle();

    // Commands.
    void OnMosaic(int layout); // 1, 2, 3, 4 or 8
    void OnFullScreen(int position);
    void RunAutoDetection();
    void OnSaveDetectorConfiguration();
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
    MetricsState ApplyMetrics(const MetricsSettings& settings);
    MetricsState MetricsNow() const;
    const CMetricsServer& MetricsServer() const { return m_metricsServer; }

    // A recorded file, while live acquisition and polling go on behind.
    void OnPostAnalysis();

    // Acquisition.
    void OnAcquisitionParameters();
    void OnStartAcquisition();
    void OnStopAcquisition();

    // What the panes tell the frame.
    void OnChannelConfigured(int position);
    void OnShowPositionFull(int position);
    // The end of a run reached by its worker: the panes go back to live graphs and the user is
    // told, without waiting for OK. `run` tells a finished run from the one now going.
    void OnAcquisitionFinished(uint64_t run, const std::string& file);

    CPaneGrid* Grid() const { return m_wndSplitter; }
    // The run going or last ended (null before the first).
    const CAcquisitionRun* CurrentAcquisition() const { return m_acqWorker.Run(); }
    QLabel* StatusPane() const { return m_statusText; }

    CAutoDetectDlg m_dlgAutoDetect;
    std::array<CChannelConfig, kPositions> m_configs;
    std::string m_strAcqBaseName;
    int m_nSamplingPeriod = 1;
    int m_nDuration = 60;
    std::atomic<bool> m_bAcqRunning{false}; // cleared by the worker at the end of a run
    int m_nLayout = 8;
    std::time_t m_timeAcqStart;
    std::time_t m_timeAcqEnd;
    bool m_bByTime = false;
    bool m_bStartPending = false;
    std::string m_strScreenshotBase;
    std::string m_strAcqFile;
    int m_nGraphBufferSize = 2000;

private:
    void CreateMenus();
    void CreateToolBar();
    void OnStatusTimer();
    void ApplyLayoutForCount(int assigned);
    // Creates the file, writes its header and starts the worker: by hand (with the empty line)
    // or on schedule. False, with the message shown, when the file cannot be created.
    bool BeginAcquisition(bool startedByHand);
    void UpdateAcquisitionButtons();
    // Tells, in one message, what the channels' requests could not do since the last tick.
    void ReportChannelFailures();

    CKelvarinDoc* m_pDocument;
    CPaneGrid* m_wndSplitter;
    QLabel* m_statusText;
    QTimer m_statusTimer;
    QTimer m_autoDetectTimer;
    QAction* m_actionStartAcq = nullptr;
    QAction* m_actionStopAcq = nullptr;
    // One channel per position, for the frame's whole life: the panes show them, the acquisition
    // samples them; they go after the panes and the acquisition worker.
    std::array<std::unique_ptr<CChannel>, kPositions> m_channels;
    // The metrics page of the channels (positions 1 to 8) and of every run's tally, and its
    // server, which goes (stopped, no scrape under way) before them; the runs go before the tally.
    CAcquisitionTally m_acqTally;
    CMeterMetrics m_metrics;
    CMetricsServer m_metricsServer{m_metrics};
    MetricsSettings m_metricsSettings;    // in effect
    std::string m_strMetricsError;        // why the exporter does not serve while it should
    std::vector<CChannel*> m_acqChannels; // the channels of the run, in header order
    uint64_t m_nAcqRun = 0;               // number of the latest run
    CUiThreadQueue m_uiQueue;             // what the worker tells this thread
    CAcquisitionWorker m_acqWorker;
};
