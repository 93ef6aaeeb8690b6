#pragma once
// The application: its profile key, its single document and main frame, and the demo meters.

#include "monitor/MetricsServer.h"

#include <QApplication>

#include <memory>
#include <optional>

class CKelvarinDoc;
class CMainFrame;
class CDemoLab;

class CKelvarinApp : public QApplication {
    Q_OBJECT

public:
    CKelvarinApp(int& argc, char** argv);
    ~CKelvarinApp() override;

    // Starts `demoMeters` simulated meters first (0 for none; their ports are listed before the
    // system's, their configurations kept in a folder of the run's own), then the document and
    // the main frame, which serves its metrics on `metrics` when given (else as its profile
    // says). False with `error` when the demo cannot start.
    bool InitInstance(int demoMeters, const std::optional<MetricsEndpoint>& metrics,
                      QString& error);
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    void OnFileNew();

private:
    std::unique_ptr<CDemoLab> m_demoLab;
    std::unique_ptr<CKelvarinDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
