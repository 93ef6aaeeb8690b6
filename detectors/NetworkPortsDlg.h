#pragma once
// "Network Ports": the meters the user reaches through serial device servers, as URLs
// (rfc2217://HOST:PORT, socket://HOST:PORT). The user adds and removes them and tests one: it is
// probed as auto-detection probes a port, on a thread of its own, and its name and serial number
// or the reason it could not be reached are shown. OK keeps the list in the profile, where
// auto-detection, the port selection dialog and kelvarin-cli find it.

#include "gui/UiThreadQueue.h"
#include "link/DetectorProtocol.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class CPortProbe;

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class CNetworkPortsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CNetworkPortsDlg(QWidget* parent = nullptr);
    ~CNetworkPortsDlg() override;

    // Reads the stored list each time the dialog appears.
    void setVisible(bool visible) override;

    // The list as shown, and whether the last OK changed the stored one.
    std::vector<std::string> Ports() const;
    bool Changed() const { return m_bChanged; }

private slots:
    void OnAdd();
    void OnRemove();
    void OnTest();
    void OnOK();
    void UpdateButtons();

private:
    void OnTested(unsigned generation, const std::string& port,
                  const DetectorProtocol::ProbeResult& result);

    QListWidget* m_list = nullptr;
    QLineEdit* m_editUrl = nullptr;
    QPushButton* m_buttonAdd = nullptr;
    QPushButton* m_buttonRemove = nullptr;
    QPushButton* m_buttonTest = nullptr;
    QLabel* m_labelResult = nullptr;
    std::vector<std::string> m_stored; // as read when the dialog appeared
    bool m_bChanged = false;
    // A test's answer belongs to the showing that asked for it.
    unsigned m_nGeneration = 0;
    CUiThreadQueue m_uiQueue;            // before the probe, whose thread posts to it
    std::unique_ptr<CPortProbe> m_probe; // the test under way or last finished
};
