#pragma once
// The serial port of a channel and the dialog that picks and opens it. A channel view keeps one
// for its whole life: once the dialog has ended with OK the port is open in this very object and
// the view talks to the meter through its ComAccess part. The last port opened successfully is
// remembered ("SerialCom"/"Com") and preselected next time, in any channel. A URL may be typed
// for a meter behind a serial device server (rfc2217://HOST:PORT, socket://HOST:PORT).

#include "link/ComAccess.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QComboBox;

class CComAccessDlg : public QDialog, public ComAccess {
    Q_OBJECT

public:
    explicit CComAccessDlg(QWidget* parent = nullptr);

    // Refills the list each time the dialog appears, whether run by exec() or show().
    void setVisible(bool visible) override;
    // Refused while a network port is being opened.
    void done(int result) override;

    int32_t m_nBaudRate = static_cast<int32_t>(ComAccess::kMeterBaudRate);
    std::string m_strPort; // the port name as listed, e.g. ttyUSB0 or a pseudo-terminal path

protected:
    void OnInitDialog();
    // Opens the chosen port: OK when it opened, Cancel (port closed, error shown) when not.
    void OnOK();

private:
    // Opens `device`; a network port on a thread of its own while the window goes on.
    bool OpenWithoutWaiting(const std::string& device);

    bool m_bOpening = false;
    QComboBox* m_comboPort = nullptr;
};
