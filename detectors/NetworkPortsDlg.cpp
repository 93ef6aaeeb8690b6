#include "detectors/NetworkPortsDlg.h"

#include "gui/DialogButtons.h"
#include "gui/MessageBox.h"
#include "gui/SingleByteText.h"
#include "link/NetworkPortStore.h"
#include "link/PortProbe.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

CNetworkPortsDlg::CNetworkPortsDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NetworkPortsDlg"));
    setWindowTitle(QStringLiteral("Network Ports"));

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("listPorts"));
    m_editUrl = new QLineEdit(this);
    m_editUrl->setObjectName(QStringLiteral("editUrl"));
    m_editUrl->setPlaceholderText(QStringLiteral("rfc2217://host:port or socket://host:port"));
    const auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(QLatin1String(text), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    m_buttonAdd = button("Add", "buttonAdd");
    m_buttonRemove = button("Remove", "buttonRemove");
    m_buttonTest = button("Test", "buttonTest");
    m_labelResult = new QLabel(this);
    m_labelResult->setObjectName(QStringLiteral("labelResult"));
    m_labelResult->setWordWrap(true);
    m_labelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelResult->setMinimumHeight(2 * fontMetrics().height());
    QPushButton* ok = MakeOkButton(this);
    QPushButton* cancel = MakeCancelButton(this);

    // The list with its buttons beside it, the URL to add under it, then what a test found.
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_list, 0, 0, 3, 2);
    grid->addWidget(m_buttonRemove, 0, 2);
    grid->addWidget(m_buttonTest, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("URL:"), this), 3, 0);
    grid->addWidget(m_editUrl, 3, 1);
    grid->addWidget(m_buttonAdd, 3, 2);
    grid->addWidget(m_labelResult, 4, 0, 1, 3);
    grid->addLayout(OkCancelRow(ok, cancel), 5, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    resize(480, 300);

    connect(m_buttonAdd, &QPushButton::clicked, this, &CNetworkPortsDlg::OnAdd);
    connect(m_editUrl, &QLineEdit::returnPressed, this, &CNetworkPortsDlg::OnAdd);
    connect(m_buttonRemove, &QPushButton::clicked, this, &CNetworkPortsDlg::OnRemove);
    connect(m_buttonTest, &QPushButton::clicked, this, &CNetworkPortsDlg::OnTest);
    connect(ok, &QPushButton::clicked, this, &CNetworkPortsDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentRowChanged, this, &CNetworkPortsDlg::UpdateButtons);
    connect(m_editUrl, &QLineEdit::textChanged, this, &CNetworkPortsDlg::UpdateButtons);
}

CNetworkPortsDlg::~CNetworkPortsDlg() {
    m_probe.reset(); // cut short and joined before the queue its thread posts to goes
}

void CNetworkPortsDlg::setVisible(bool visible) {
    if (visible && !isVisible()) {
        ++m_nGeneration; // a test still under way reports to nobody
        m_bChanged = false;
        const StoredNetworkPorts stored = ReadNetworkPorts();
        m_stored = stored.ports;
        m_list->clear();
        for (const std::string& port : stored.ports)
            m_list->addItem(ToQt(port));
        m_editUrl->clear();
        m_labelResult->clear();
        UpdateButtons();
        if (!stored.errors.empty()) {
            std::string text = "Left out of the network ports:";
            for (const std::string& error : stored.errors)
                text += "\n" + error;
            KelvarinMessageBoxModeless(this, ToQt(text));
        }
    }
    QDialog::setVisible(visible);
}

std::vector<std::string> CNetworkPortsDlg::Ports() const {
    std::vector<std::string> ports;
    for (int row = 0; row < m_list->count(); ++row)
        ports.push_back(ToStd(m_list->item(row)->text()));
    return ports;
}

void CNetworkPortsDlg::UpdateButtons() {
    const bool selected = m_list->currentRow() >= 0;
    m_buttonRemove->setEnabled(selected);
    m_buttonTest->setEnabled(!m_probe && (selected || !m_editUrl->text().trimmed().isEmpty()));
    m_buttonAdd->setEnabled(!m_editUrl->text().trimmed().isEmpty());
}

void CNetworkPortsDlg::OnAdd() {
    const std::string url = ToStd(m_editUrl->text().trimmed());
    if (url.empty())
        return;
    const StoredNetworkPorts checked = SplitNetworkPorts(url);
    if (!checked.errors.empty() || checked.ports.size() != 1) {
        KelvarinMessageBox(this, ToQt(checked.errors.empty() ? url + ": a URL holds no blank"
                                                             : checked.errors.front()));
        return;
    }
    const std::vector<std::string> ports = Ports();
    if (std::find(ports.begin(), ports.end(), url) != ports.end()) {
        KelvarinMessageBox(this, ToQt(url + " is already listed."));
        return;
    }
    if (ports.size() >= kMaxNetworkPorts) {
        KelvarinMessageBox(this, QStringLiteral("At most %1 network ports.").arg(kMaxNetworkPorts));
        return;
    }
    m_list->addItem(ToQt(url));
    m_list->setCurrentRow(m_list->count() - 1);
    m_editUrl->clear();
    UpdateButtons();
}

void CNetworkPortsDlg::OnRemove() {
    delete m_list->takeItem(m_list->currentRow());
    UpdateButtons();
}

void CNetworkPortsDlg::OnTest() {
    if (m_probe)
        return; // one test at a time
    const int row = m_list->currentRow();
    const std::string port =
        row >= 0 ? ToStd(m_list->item(row)->text()) : ToStd(m_editUrl->text().trimmed());
    if (port.empty())
        return;
    if (std::string error; !CheckNetworkPort(port, error)) {
        m_labelResult->setText(ToQt(error));
        return;
    }
    m_labelResult->setText(ToQt("Testing " + port + " ..."));
    const unsigned generation = m_nGeneration;
    m_probe = std::make_unique<CPortProbe>();
    m_probe->Start({port}, [this, generation, port](size_t,
                                                    const DetectorProtocol::ProbeResult& result) {
        m_uiQueue.Post([this, generation, port, result] { OnTested(generation, port, result); });
    });
    UpdateButtons();
}

void CNetworkPortsDlg::OnTested(unsigned generation, const std::string& port,
                                const DetectorProtocol::ProbeResult& result) {
    m_probe->Wait(); // it has answered: join its thread
    m_probe.reset();
    UpdateButtons();
    if (generation != m_nGeneration)
        return;
    std::string text;
    if (!result.opened)
        text = DetectorProtocol::OpenFailureText(port, result.error);
    else if (result.name.empty() && result.serial.empty())
        text = port + ": no meter answered";
    else
        text = port + ": " + result.name + ", serial " + result.serial;
    m_labelResult->setText(ToQt(text).trimmed());
}

void CNetworkPortsDlg::OnOK() {
    const std::vector<std::string> ports = Ports();
    if (ports != m_stored) {
        std::string error;
        if (!WriteNetworkPorts(ports, error)) {
            KelvarinMessageBox(this, ToQt(error));
            return;
        }
        m_bChanged = true;
    }
    accept();
}
