#pragma once
// "Auto Detection": lists the serial ports, asks the meter on each for its name and serial
// number, shows the stored position and title of each detector and lets the user reorder them
// by position. The frame keeps one object for its whole life: the ports are probed on the first
// showing only, later showings list the results of that probe again.

#include "detectors/ChannelConfig.h"
#include "gui/UiThreadQueue.h"
#include "link/DetectorProtocol.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class CPortProbe;

class QPushButton;
class QTableWidget;

class CAutoDetectDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAutoDetectDlg(QWidget* parent = nullptr);
    ~CAutoDetectDlg() override;

    // Fills the list each time the dialog appears, whether run by exec() or show().
    void setVisible(bool visible) override;
    // Refused while the ports are being probed: the list is not final yet.
    void done(int result) override;

    int m_nSelectedRow = -1;                // row last double-clicked
    int m_nPortCount = 0;                   // ports listed by the last scan
    std::vector<CChannelConfig> m_pConfigs; // one record per row, in row order
    bool m_bProbed = false;                 // the ports have been probed once

    // True while the ports are being probed (the list is not final and OK waits).
    bool IsProbing() const { return m_bProbing; }

    // List columns.
    enum Column { kColPosition, kColPort, kColName, kColSerial, kColTitle, kColumnCount };

protected:
    void OnInitDialog();

private slots:
    void OnProbe();
    void OnDblclkListDetectors(int row);

private:
    void ListPorts();
    void FillRowsFromConfigs();
    // One port's answer, on this thread, as each port finishes.
    void OnPortProbed(int row, const DetectorProtocol::ProbeResult& result);
    void FinishProbe();
    void RebuildConfigs();
    void ReadStoredConfigs();
    // Rows with a position first, ascending, then the others in their order; returns where the
    // row `follow` went (-1 for none).
    int SortRows(int follow = -1);
    void SetText(int row, int column, const QString& text);
    QString Text(int row, int column) const;

    QTableWidget* m_list = nullptr;
    QPushButton* m_buttonOk = nullptr;
    bool m_bProbing = false;
    int m_nProbesLeft = 0;
    // The ports the system refused during the probe, told in one message once the list is final.
    std::vector<std::string> m_refused;  // by row, in the system's order
    CUiThreadQueue m_uiQueue;            // before the probe, whose threads post to it
    std::unique_ptr<CPortProbe> m_probe; // every port at once, each on its own thread
};
