#pragma once
// "Remote Monitoring": whether and where the window serves its metrics page, with the optional
// password and TLS files, the URL to scrape and what the exporter does now. OK checks the address
// and port (a bad one is named and the dialog stays open), then hands the settings to the window,
// which puts them in effect and keeps them; a start that fails is told once and shown in the
// status line, and the dialog stays open for another try.

#include "monitor/MetricsExporter.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The exporter's settings kept in the profile's section "Metrics".
MetricsSettings ReadMetricsSettings();
void WriteMetricsSettings(const MetricsSettings& settings);

// "Serving on URL", "Not serving: REASON" or "Off".
QString MetricsStatusText(const MetricsState& state);

class CMetricsDlg : public QDialog {
    Q_OBJECT

public:
    // Puts the settings in effect and says what the exporter does then.
    using Apply = std::function<MetricsState(const MetricsSettings& settings)>;

    explicit CMetricsDlg(Apply apply, QWidget* parent = nullptr);

    MetricsSettings m_settings; // in: those in effect; after OK: those applied
    MetricsState m_state;       // in: what the exporter does now; then after each apply

    void setVisible(bool visible) override;

private slots:
    void OnOK();
    void OnBrowseAuth();
    void OnBrowseTls();
    void UpdateUrl();

private:
    // The fields into `settings`; false with the message shown and the focus on the field.
    void FillFields();
    bool ReadFields(MetricsSettings& settings);
    void Refuse(QLineEdit* field, const QString& message);
    void Browse(QLineEdit* field, const QString& title);

    Apply m_apply;
    QCheckBox* m_checkServe;
    QLineEdit* m_editAddress;
    QLineEdit* m_editPort;
    QLineEdit* m_editAuthFile;
    QPushButton* m_buttonBrowseAuth;
    QLineEdit* m_editTlsFile;
    QPushButton* m_buttonBrowseTls;
    QLineEdit* m_editUrl;
    QLabel* m_labelStatus;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};
