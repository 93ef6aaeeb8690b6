#include "detectors/ComAccessDlg.h"

#include "gui/DialogButtons.h"
#include "gui/MessageBox.h"
#include "gui/SingleByteText.h"
#include "link/DetectorProtocol.h"
#include "link/PortAddress.h"
#include "link/PortList.h"
#include "settings/ProfileStore.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <thread>

namespace {

const QString kSection = QStringLiteral("SerialCom");
const QString kKey = QStringLiteral("Com");

} // namespace

CComAccessDlg::CComAccessDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select Serial Com port"));

    auto* label = new QLabel(QStringLiteral("Serial Port:"), this);
    m_comboPort = new QComboBox(this);
    m_comboPort->setObjectName(QStringLiteral("comboPort"));
    m_comboPort->setEditable(true);
    // Typed text selects a listed port or names a URL; it never becomes a new item.
    m_comboPort->setInsertPolicy(QComboBox::NoInsert);
    // Device paths can be long (/dev/serial/by-id/...): the box widens to show them whole.
    m_comboPort->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_comboPort->setMinimumWidth(81);

    QPushButton* ok = MakeOkButton(this);
    QPushButton* cancel = MakeCancelButton(this);
    for (QPushButton* button : {ok, cancel})
        button->setMinimumWidth(75);

    // Label and list on one row, OK under the label and Cancel under the list, as compact as
    // a 127 x 62 dialog-unit box.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(11, 14, 11, 11);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(16);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_comboPort, 0, 1);
    grid->addWidget(ok, 1, 0, Qt::AlignLeft);
    grid->addWidget(cancel, 1, 1, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &CComAccessDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CComAccessDlg::setVisible(bool visible) {
    // Filled before the window appears so that its size already fits the names listed.
    if (visible && !isVisible())
        OnInitDialog();
    QDialog::setVisible(visible);
}

void CComAccessDlg::OnInitDialog() {
    m_comboPort->clear();
    for (const std::string& port : ListSerialPorts())
        m_comboPort->addItem(ToQt(port));

    const QString last = ReadProfileString(kSection, kKey);
    m_strPort = ToStd(last);
    const int found = m_comboPort->findText(last, Qt::MatchFixedString); // case-insensitive
    m_comboPort->setCurrentIndex(found >= 0 ? found : (m_comboPort->count() > 0 ? 0 : -1));
}

void CComAccessDlg::done(int result) {
    if (m_bOpening)
        return; // the open under way ends the dialog itself
    QDialog::done(result);
}

bool CComAccessDlg::OpenWithoutWaiting(const std::string& device) {
    const uint32_t rate = static_cast<uint32_t>(m_nBaudRate);
    if (!IsPortUrl(device))
        return Open(device, rate); // a local device opens at once
    // A server may take its 3 s to answer or to fail: the open runs on a thread of its own
    // while the window goes on painting, and the dialog takes no click until it is done.
    m_bOpening = true;
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    bool opened = false;
    std::thread opener([&] {
        opened = Open(device, rate);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    opener.join();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    m_bOpening = false;
    return opened;
}

void CComAccessDlg::OnOK() {
    if (m_bOpening)
        return;
    // A listed port, or a URL typed in (a meter behind a serial device server); other typed
    // text selects nothing.
    const int index = m_comboPort->currentIndex();
    const QString typed = m_comboPort->currentText().trimmed();
    if (index >= 0 && m_comboPort->currentText() == m_comboPort->itemText(index)) {
        m_strPort = ToStd(m_comboPort->itemText(index));
    } else if (IsPortUrl(ToStd(typed))) {
        PortAddress address;
        std::string error;
        if (!PortAddress::Parse(ToStd(typed), address, error)) {
            KelvarinMessageBox(this, ToQt(error)); // nothing was connected; the dialog stays
            return;
        }
        m_strPort = ToStd(typed);
    } else {
        KelvarinMessageBox(this, QStringLiteral("No serial port selected."));
        return;
    }

    const std::string device = ComAccess::DevicePath(m_strPort);
    if (OpenWithoutWaiting(device)) {
        WriteProfileString(kSection, kKey, ToQt(m_strPort));
        accept();
        return;
    }

    const PortError error = LastError();
    QString message = ToQt(error.Text());
    const std::string hint = DetectorProtocol::PermissionHint(device, error);
    if (!hint.empty()) {
        if (!message.endsWith(QLatin1Char('\n')))
            message += QLatin1Char('\n');
        message += ToQt(hint);
    }
    KelvarinMessageBox(this, message);
    Close();
    reject();
}
