#include "app/KelvarinApp.h"

#include "app/DemoLab.h"
#include "app/KelvarinDoc.h"
#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "res/CommandIds.h"

#include <QShortcut>

CKelvarinApp::CKelvarinApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("Kelvarin"));
    setApplicationName(QStringLiteral("Kelvarin"));
    setApplicationVersion(QStringLiteral("1.00.10"));
}

CKelvarinApp::~CKelvarinApp() {
    // The frame and its panes first: they stop their meters, which must still be there.
    m_pMainFrame.reset();
    m_pDocument.reset();
    m_demoLab.reset();
}

bool CKelvarinApp::InitInstance(int demoMeters, const std::optional<MetricsEndpoint>& metrics,
                                QString& error) {
    if (demoMeters > 0) {
        m_demoLab = std::make_unique<CDemoLab>();
        std::string why;
        if (!m_demoLab->Start(demoMeters, why)) {
            error = QString::fromStdString(why);
            return false;
        }
        QByteArray ports = QByteArray::fromStdString(m_demoLab->PortsVariable());
        const QByteArray earlier = qgetenv("KELVARIN_PORTS");
        if (!earlier.isEmpty())
            ports += ':' + earlier;
        qputenv("KELVARIN_PORTS", ports);
    }
    m_pDocument = std::make_unique<CKelvarinDoc>();
    m_pDocument->OnNewDocument();
    m_pMainFrame = std::make_unique<CMainFrame>(m_pDocument.get());
    auto* fileNew = new QShortcut(QKeySequence::New, m_pMainFrame.get());
    connect(fileNew, &QShortcut::activated, this, &CKelvarinApp::OnFileNew);
    // The fading laser's pane shows its graph, so its fall is seen as it happens.
    if (demoMeters > CDemoLab::kFadingMeter)
        m_pMainFrame->GetView(CDemoLab::kFadingMeter)->OnCommand(Command::GraphicDisplay);
    m_pMainFrame->StartMetrics(metrics);
    m_pMainFrame->show();
    return true;
}

void CKelvarinApp::OnFileNew() {
    m_pDocument->OnNewDocument();
    m_pMainFrame->UpdateTitle();
}
