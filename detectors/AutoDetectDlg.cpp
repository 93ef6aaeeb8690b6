#include "detectors/AutoDetectDlg.h"

#include "detectors/ConfigDamageReport.h"
#include "detectors/DetectorOrder.h"
#include "detectors/PositionDlg.h"
#include "gui/MessageBox.h"
#include "gui/SingleByteText.h"
#include "link/PortList.h"
#include "link/PortProbe.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Only the first rows carry their columns into the records the frame assigns to its panes.
constexpr int kListedRows = static_cast<int>(kAssignableRows);

// The system refused to open the port (rather than finding no device behind it), or a network
// port's server could not be reached: the user can do something about it, and is told.
bool IsRefusal(const PortError& error) {
    return error.kind == PortFault::Refused || error.kind == PortFault::Busy ||
           error.kind == PortFault::Missing || error.kind == PortFault::Network;
}

constexpr int kPortWidth = 60;
constexpr int kPortMaxWidth = 200;

// The leading decimal number of the text, 0 when there is none; never fails.
int32_t PositionFromText(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const long value = std::strtol(bytes.constData(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

} // namespace

CAutoDetectDlg::CAutoDetectDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AutoDetectDlg"));
    setWindowTitle(QStringLiteral("Auto Detection"));

    m_list = new QTableWidget(0, kColumnCount, this);
    m_list->setObjectName(QStringLiteral("listDetectors"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Position"), QStringLiteral("Port"),
                                       QStringLiteral("Name"), QStringLiteral("Serial"),
                                       QStringLiteral("Title")});
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    // Compact rows, as in a report list rather than a spreadsheet.
    m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = m_list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    const std::array<int, kColumnCount> widths{50, kPortWidth, 100, 100, 100};
    for (int column = 0; column < kColumnCount; ++column)
        m_list->setColumnWidth(column, widths[column]);

    m_buttonOk = new QPushButton(QStringLiteral("OK"), this);
    m_buttonOk->setObjectName(QStringLiteral("buttonOk"));

    // List above a full-width OK, as a 421 x 180 dialog-unit box.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(5);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_buttonOk);
    resize(632, 288);

    connect(m_buttonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &CAutoDetectDlg::OnDblclkListDetectors);
}

CAutoDetectDlg::~CAutoDetectDlg() {
    m_probe.reset(); // cut short and joined before the queue its threads post to goes
    if (m_bProbing)
        QApplication::restoreOverrideCursor();
}

void CAutoDetectDlg::setVisible(bool visible) {
    // Filled before the window appears, so it never shows a stale list.
    if (visible && !isVisible())
        OnInitDialog();
    QDialog::setVisible(visible);
}

void CAutoDetectDlg::done(int result) {
    if (m_bProbing)
        return;
    QDialog::done(result);
}

void CAutoDetectDlg::OnInitDialog() {
    if (m_bProbing)
        return; // the probe under way owns the rows
    ListPorts();
    FillRowsFromConfigs();
    m_nSelectedRow = -1;
    if (m_bProbed) {
        // Ports are probed once per run; later showings list that probe's results again.
        SortRows();
        return;
    }
    m_bProbed = true;
    m_bProbing = true;
    m_buttonOk->setEnabled(false);
    // Probed once the window is up, so the user sees the list and the wait cursor meanwhile.
    QTimer::singleShot(0, this, &CAutoDetectDlg::OnProbe);
}

void CAutoDetectDlg::OnProbe() {
    // Every port at once, each on a thread of its own with the exchange of a single probe; the
    // window stays alive and each answer shows as it comes. Clicks wait until the list is final.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<std::string> ports;
    for (int row = 0; row < m_list->rowCount(); ++row)
        ports.push_back(ToStd(Text(row, kColPort)));
    m_nProbesLeft = static_cast<int>(ports.size());
    m_refused.assign(ports.size(), std::string());
    if (ports.empty()) {
        FinishProbe();
        return;
    }
    m_probe = std::make_unique<CPortProbe>();
    m_probe->Start(ports, [this](size_t row, const DetectorProtocol::ProbeResult& result) {
        m_uiQueue.Post([this, row, result] { OnPortProbed(static_cast<int>(row), result); });
    });
}

void CAutoDetectDlg::OnPortProbed(int row, const DetectorProtocol::ProbeResult& result) {
    // The rows stay in port order while the probe runs.
    const std::string port = ToStd(Text(row, kColPort));
    if (result.opened) {
        SetText(row, kColName, ToQt(result.name));
        SetText(row, kColSerial, ToQt(result.serial));
    } else if (IsRefusal(result.error)) {
        // The row stays empty, as for a port without a meter; the user is told why once the
        // list is final.
        m_refused[static_cast<size_t>(row)] = DetectorProtocol::OpenFailureText(port, result.error);
    }
    if (--m_nProbesLeft == 0)
        FinishProbe();
}

void CAutoDetectDlg::FinishProbe() {
    if (m_probe)
        m_probe->Wait(); // every thread has posted its answer: join them
    m_probe.reset();
    RebuildConfigs();
    QApplication::restoreOverrideCursor();
    ReadStoredConfigs();
    SortRows();
    m_bProbing = false;
    m_buttonOk->setEnabled(true);
    std::string refused;
    for (const std::string& text : m_refused)
        refused += text;
    if (!refused.empty())
        KelvarinMessageBox(this, QString::fromStdString(refused).trimmed());
}

void CAutoDetectDlg::ListPorts() {
    m_list->clearContents();
    m_list->setRowCount(0);
    const std::vector<std::string> ports = ListSerialPorts();
    m_list->setRowCount(static_cast<int>(ports.size()));
    for (int row = 0; row < m_list->rowCount(); ++row) {
        SetText(row, kColPosition, QStringLiteral("-1"));
        SetText(row, kColPort, ToQt(ports[static_cast<size_t>(row)]));
        for (int column : {kColName, kColSerial, kColTitle})
            SetText(row, column, QString());
    }
    m_nPortCount = m_list->rowCount();
    // Device paths here are longer than the short port names the column was sized for: it
    // widens to show them, within reason (the tooltip holds the rest).
    m_list->resizeColumnToContents(kColPort);
    m_list->setColumnWidth(kColPort,
                           std::clamp(m_list->columnWidth(kColPort), kPortWidth, kPortMaxWidth));
}

void CAutoDetectDlg::FillRowsFromConfigs() {
    // Each row takes the earlier record of its own port: the frame opens a row's port for the
    // serial number shown beside it, so the two must never part, even when the earlier list was
    // sorted or the system lists its ports differently now.
    for (int row = 0; row < m_list->rowCount(); ++row) {
        const std::string port = ToStd(Text(row, kColPort));
        const auto found =
            std::find_if(m_pConfigs.begin(), m_pConfigs.end(),
                         [&](const CChannelConfig& config) { return config.m_strPort == port; });
        if (found == m_pConfigs.end())
            continue;
        SetText(row, kColName, ToQt(found->m_strName));
        SetText(row, kColSerial, ToQt(found->m_strSerial));
        SetText(row, kColTitle, ToQt(found->m_strTitle));
        SetText(row, kColPosition, QString::number(found->m_nPosition));
    }
}

void CAutoDetectDlg::RebuildConfigs() {
    const int rows = m_list->rowCount();
    m_pConfigs.assign(static_cast<size_t>(rows), CChannelConfig());
    for (int row = 0; row < std::min(rows, kListedRows); ++row) {
        CChannelConfig& config = m_pConfigs[static_cast<size_t>(row)];
        config.m_nPosition = PositionFromText(Text(row, kColPosition));
        config.m_strPort = ToStd(Text(row, kColPort));
        config.m_strName = ToStd(Text(row, kColName));
        config.m_strSerial = ToStd(Text(row, kColSerial));
        config.m_strTitle = ToStd(Text(row, kColTitle));
    }
}

void CAutoDetectDlg::ReadStoredConfigs() {
    const int records = std::min(m_nPortCount, static_cast<int>(m_pConfigs.size()));
    for (int i = 0; i < records; ++i) {
        CChannelConfig& record = m_pConfigs[static_cast<size_t>(i)];
        // A damaged file leaves the detector listed with "-1": it is connected with defaults.
        ReadStoredPlace(record,
                        [this](const std::string& error) { ReportConfigDamageOnce(this, error); });
        SetText(i, kColPosition, QString::number(record.m_nPosition));
        SetText(i, kColTitle, ToQt(record.m_strTitle));
    }
}

int CAutoDetectDlg::SortRows(int follow) {
    const int rows = m_list->rowCount();
    std::vector<int32_t> keys(static_cast<size_t>(rows));
    std::vector<std::array<QTableWidgetItem*, kColumnCount>> items(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        keys[static_cast<size_t>(row)] = PositionFromText(Text(row, kColPosition));
        for (int column = 0; column < kColumnCount; ++column)
            items[static_cast<size_t>(row)][static_cast<size_t>(column)] =
                m_list->takeItem(row, column);
    }
    const std::vector<int> order = DetectorListOrder(keys);
    int moved = -1;
    for (int row = 0; row < rows; ++row) {
        const int from = order[static_cast<size_t>(row)];
        if (from == follow)
            moved = row;
        for (int column = 0; column < kColumnCount; ++column)
            m_list->setItem(row, column,
                            items[static_cast<size_t>(from)][static_cast<size_t>(column)]);
    }
    RebuildConfigs();
    return moved;
}

void CAutoDetectDlg::OnDblclkListDetectors(int row) {
    if (m_bProbing || row < 0 || row >= m_list->rowCount())
        return;
    m_nSelectedRow = row;
    CPositionDlg dialog(this);
    dialog.m_nPosition = PositionFromText(Text(row, kColPosition));
    if (dialog.exec() != QDialog::Accepted || row >= m_list->rowCount())
        return;
    SetText(row, kColPosition, QString::number(dialog.m_nPosition));
    const int moved = SortRows(row);
    if (moved >= 0)
        m_list->selectRow(moved); // the selection follows the detector to its new place
}

void CAutoDetectDlg::SetText(int row, int column, const QString& text) {
    QTableWidgetItem* item = m_list->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        m_list->setItem(row, column, item);
    }
    item->setText(text);
    item->setToolTip(text); // long device paths are cut by the narrow column
}

QString CAutoDetectDlg::Text(int row, int column) const {
    const QTableWidgetItem* item = m_list->item(row, column);
    return item ? item->text() : QString();
}
