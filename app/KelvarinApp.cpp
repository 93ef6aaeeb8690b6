#include "app/KelvarinApp.h"

#include "app/KelvarinDoc.h"
#include "app/MainFrame.h"
#include "sim/MeterSimulator.h"

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
    if (m_demoMeters)
        m_demoMeters->Stop();
}

bool CKelvarinApp::InitInstance(int demoMeters, QString& error) {
    if (demoMeters > 0) {
        m_demoMeters = std::make_unique<CSimulatorSet>();
        std::string why;
        if (!m_demoMeters->Start(demoMeters, why)) {
            error = QString::fromStdString(why);
            return false;
        }
        QByteArray ports = QByteArray::fromStdString(m_demoMeters->PortsVariable());
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
    m_pMainFrame->show();
    return true;
}

void CKelvarinApp::OnFileNew() {
    m_pDocument->OnNewDocument();
    m_pMainFrame->UpdateTitle();
}
