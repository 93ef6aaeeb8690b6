#pragma once
// The main window: eight panes in a two-by-four grid shown as a mosaic or one alone, the menus,
// toolbar and status bar, the auto-detection that binds meters to positions two seconds after
// start-up, and the commands that act on every position at once.

#include "app/PaneGrid.h"
#include "detectors/AutoDetectDlg.h"
#include "detectors/ChannelConfig.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <ctime>
#include <string>

class CKelvarinView;
class CKelvarinDoc;
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

    // What the panes tell the frame.
    void OnChannelConfigured(int position);
    void OnShowPositionFull(int position);

    CPaneGrid* Grid() const { return m_wndSplitter; }
    QLabel* StatusPane() const { return m_statusText; }

    CAutoDetectDlg m_dlgAutoDetect;
    std::array<CChannelConfig, kPositions> m_configs;
    std::string m_strAcqBaseName;
    int m_nSamplingPeriod = 1;
    int m_nDuration = 60;
    bool m_bAcqRunning = false;
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

    CKelvarinDoc* m_pDocument;
    CPaneGrid* m_wndSplitter;
    QLabel* m_statusText;
    QTimer m_statusTimer;
    QTimer m_autoDetectTimer;
};
