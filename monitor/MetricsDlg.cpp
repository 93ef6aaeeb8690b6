#include "monitor/MetricsDlg.h"

#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"
#include "gui/MessageBox.h"
#include "settings/ProfileStore.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("Metrics");
constexpr int kMaxPort = 65535;

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToPath(const QString& text) {
    return QFile::encodeName(text.trimmed()).toStdString();
}

// The address as typed; an IPv6 one may come in the brackets of a URL.
std::string AddressText(const QLineEdit* edit) {
    QString text = edit->text().trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    return text.toStdString();
}

bool ReadPort(const QLineEdit* edit, int& port) {
    int32_t value = 0;
    if (!CDataExchange::ParseInt(edit->text(), value) || value < 0 || value > kMaxPort)
        return false;
    port = value;
    return true;
}

} // namespace

MetricsSettings ReadMetricsSettings() {
    MetricsSettings settings;
    settings.enabled = ReadProfileInt(kSection, QStringLiteral("Enabled"), 0) != 0;
    settings.endpoint.address = ReadProfileString(kSection, QStringLiteral("Address"),
                                                  QString::fromStdString(settings.endpoint.address))
                                    .toStdString();
    settings.endpoint.port =
        ReadProfileInt(kSection, QStringLiteral("Port"), settings.endpoint.port);
    settings.endpoint.authFile = ToPath(ReadProfileString(kSection, QStringLiteral("AuthFile")));
    settings.endpoint.tlsFile = ToPath(ReadProfileString(kSection, QStringLiteral("TlsFile")));
    return settings;
}

void WriteMetricsSettings(const MetricsSettings& settings) {
    WriteProfileInt(kSection, QStringLiteral("Enabled"), settings.enabled ? 1 : 0);
    WriteProfileString(kSection, QStringLiteral("Address"),
                       QString::fromStdString(settings.endpoint.address));
    WriteProfileInt(kSection, QStringLiteral("Port"), settings.endpoint.port);
    WriteProfileString(kSection, QStringLiteral("AuthFile"), FromPath(settings.endpoint.authFile));
    WriteProfileString(kSection, QStringLiteral("TlsFile"), FromPath(settings.endpoint.tlsFile));
}

QString MetricsStatusText(const MetricsState& state) {
    if (!state.url.empty())
        return QStringLiteral("Serving on %1").arg(QString::fromStdString(state.url));
    if (!state.error.empty())
        return QStringLiteral("Not serving: %1").arg(QString::fromStdString(state.error));
    return QStringLiteral("Off");
}

CMetricsDlg::CMetricsDlg(Apply apply, QWidget* parent)
    : QDialog(parent), m_apply(std::move(apply)) {
    setObjectName(QStringLiteral("MetricsDlg"));
    setWindowTitle(QStringLiteral("Remote Monitoring"));
    m_checkServe = new QCheckBox(QStringLiteral("Serve metrics for Prometheus"));
    m_checkServe->setObjectName(QStringLiteral("checkServe"));
    m_editAddress = new QLineEdit;
    m_editAddress->setObjectName(QStringLiteral("editAddress"));
    m_editAddress->setToolTip(
        QStringLiteral("127.0.0.1: this computer only; 0.0.0.0 or :: for every network"));
    m_editPort = new QLineEdit;
    m_editPort->setObjectName(QStringLiteral("editPort"));
    m_editPort->setFixedWidth(80);
    m_editAuthFile = new QLineEdit;
    m_editAuthFile->setObjectName(QStringLiteral("editAuthFile"));
    m_editAuthFile->setPlaceholderText(QStringLiteral("Optional: a file holding user:password"));
    m_editAuthFile->setToolTip(QStringLiteral("Scrapes must give this user and password. The "
                                              "file's first line is user:password, and only "
                                              "you may read it (chmod 600)."));
    m_buttonBrowseAuth = new QPushButton(QStringLiteral("Browse..."));
    m_buttonBrowseAuth->setObjectName(QStringLiteral("buttonBrowseAuth"));
    m_editTlsFile = new QLineEdit;
    m_editTlsFile->setObjectName(QStringLiteral("editTlsFile"));
    m_editTlsFile->setPlaceholderText(
        QStringLiteral("Optional: a PEM file with the certificate and its key"));
    m_buttonBrowseTls = new QPushButton(QStringLiteral("Browse..."));
    m_buttonBrowseTls->setObjectName(QStringLiteral("buttonBrowseTls"));
    m_editUrl = new QLineEdit;
    m_editUrl->setObjectName(QStringLiteral("editUrl"));
    m_editUrl->setReadOnly(true);
    // Shown as text to copy, not as a field to type in.
    QPalette urlPalette = m_editUrl->palette();
    urlPalette.setColor(QPalette::Base, urlPalette.color(QPalette::Window));
    m_editUrl->setPalette(urlPalette);
    m_labelStatus = new QLabel;
    m_labelStatus->setObjectName(QStringLiteral("labelStatus"));
    m_labelStatus->setWordWrap(true);
    m_labelStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_labelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    if (!CMetricsServer::Available()) {
        m_checkServe->setEnabled(false);
        m_checkServe->setToolTip(QStringLiteral("This build of Kelvarin has no metrics exporter"));
    }
    if (!CMetricsServer::TlsAvailable()) {
        m_buttonBrowseTls->setEnabled(false);
        m_editTlsFile->setToolTip(QStringLiteral("This build of Kelvarin cannot speak TLS"));
        m_editTlsFile->setPlaceholderText(QStringLiteral("Not available in this build"));
    }

    auto* form = new QGridLayout;
    form->setColumnStretch(1, 1);
    int row = 0;
    const auto addRow = [&](const QString& label, QWidget* field, QWidget* button = nullptr) {
        form->addWidget(new QLabel(label), row, 0);
        if (button) {
            form->addWidget(field, row, 1);
            form->addWidget(button, row, 2);
        } else {
            form->addWidget(field, row, 1, 1, 2,
                            field == m_editPort ? Qt::AlignLeft : Qt::Alignment());
        }
        ++row;
    };
    addRow(QStringLiteral("Address:"), m_editAddress);
    addRow(QStringLiteral("Port:"), m_editPort);
    addRow(QStringLiteral("Password file:"), m_editAuthFile, m_buttonBrowseAuth);
    addRow(QStringLiteral("TLS certificate file:"), m_editTlsFile, m_buttonBrowseTls);
    addRow(QStringLiteral("URL:"), m_editUrl);
    form->addWidget(new QLabel(QStringLiteral("Status:")), row, 0, Qt::AlignTop);
    form->addWidget(m_labelStatus, row, 1, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_checkServe);
    layout->addSpacing(6);
    layout->addLayout(form);
    layout->addSpacing(12);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    setMinimumWidth(520);

    connect(m_editAddress, &QLineEdit::textChanged, this, &CMetricsDlg::UpdateUrl);
    connect(m_editPort, &QLineEdit::textChanged, this, &CMetricsDlg::UpdateUrl);
    connect(m_editTlsFile, &QLineEdit::textChanged, this, &CMetricsDlg::UpdateUrl);
    connect(m_buttonBrowseAuth, &QPushButton::clicked, this, &CMetricsDlg::OnBrowseAuth);
    connect(m_buttonBrowseTls, &QPushButton::clicked, this, &CMetricsDlg::OnBrowseTls);
    connect(m_buttonOk, &QPushButton::clicked, this, &CMetricsDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CMetricsDlg::setVisible(bool visible) {
    // Filled before the window takes its size, which must hold a status of two lines.
    if (visible && !isVisible())
        FillFields();
    QDialog::setVisible(visible);
}

void CMetricsDlg::FillFields() {
    const MetricsEndpoint& endpoint = m_settings.endpoint;
    m_checkServe->setChecked(m_settings.enabled);
    m_editAddress->setText(QString::fromStdString(endpoint.address));
    m_editPort->setText(QString::number(endpoint.port));
    m_editAuthFile->setText(FromPath(endpoint.authFile));
    m_editTlsFile->setText(FromPath(endpoint.tlsFile));
    // Without TLS the field stays open only to take away a file set before.
    m_editTlsFile->setEnabled(CMetricsServer::TlsAvailable() || !endpoint.tlsFile.empty());
    m_labelStatus->setText(MetricsStatusText(m_state));
    UpdateUrl();
    m_checkServe->setFocus();
}

void CMetricsDlg::UpdateUrl() {
    // Served with these settings: the server's own URL, which has the port a 0 was given.
    const bool tls = !m_editTlsFile->text().trimmed().isEmpty();
    const std::string address = AddressText(m_editAddress);
    int port = 0;
    if (!m_state.url.empty() && address == m_settings.endpoint.address &&
        ReadPort(m_editPort, port) && port == m_settings.endpoint.port &&
        tls == !m_settings.endpoint.tlsFile.empty()) {
        m_editUrl->setText(QString::fromStdString(m_state.url));
        return;
    }
    if (!ReadPort(m_editPort, port) || !MetricsAddressError(address).empty()) {
        m_editUrl->clear();
        return;
    }
    m_editUrl->setText(QString::fromStdString((tls ? "https://" : "http://") +
                                              MetricsHostPort(address, port) + "/metrics"));
}

void CMetricsDlg::Refuse(QLineEdit* field, const QString& message) {
    KelvarinMessageBox(this, message);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

bool CMetricsDlg::ReadFields(MetricsSettings& settings) {
    settings.enabled = m_checkServe->isChecked();
    settings.endpoint.address = AddressText(m_editAddress);
    const std::string problem = MetricsAddressError(settings.endpoint.address);
    if (!problem.empty()) {
        Refuse(m_editAddress, QStringLiteral("Address: %1.").arg(QString::fromStdString(problem)));
        return false;
    }
    if (!ReadPort(m_editPort, settings.endpoint.port)) {
        Refuse(m_editPort, QStringLiteral("Port: \"%1\" is not a port number (0 to 65535).")
                               .arg(m_editPort->text().trimmed()));
        return false;
    }
    settings.endpoint.authFile = ToPath(m_editAuthFile->text());
    settings.endpoint.tlsFile = ToPath(m_editTlsFile->text());
    return true;
}

void CMetricsDlg::OnOK() {
    MetricsSettings settings;
    if (!ReadFields(settings))
        return;
    m_state = m_apply(settings);
    m_settings = settings;
    m_labelStatus->setText(MetricsStatusText(m_state));
    UpdateUrl();
    adjustSize(); // the status may take another line
    if (settings.enabled && m_state.url.empty()) {
        // Not serving: told once, and the dialog stays for another address or port.
        KelvarinMessageBox(this, QString::fromStdString(m_state.error));
        return;
    }
    accept();
}

void CMetricsDlg::Browse(QLineEdit* field, const QString& title) {
    QFileDialog dialog(this, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QFileInfo current(field->text().trimmed());
    dialog.setDirectory(field->text().trimmed().isEmpty() ? QDir::homePath()
                                                          : current.absolutePath());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        field->setText(dialog.selectedFiles().front());
}

void CMetricsDlg::OnBrowseAuth() {
    Browse(m_editAuthFile, QStringLiteral("Password file"));
}

void CMetricsDlg::OnBrowseTls() {
    Browse(m_editTlsFile, QStringLiteral("TLS certificate file"));
}
