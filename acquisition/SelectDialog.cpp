#include "acquisition/SelectDialog.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>

CSelectDialog::CSelectDialog(QWidget* parent) : QFileDialog(parent) {
    // The relabelling needs the dialog's own widgets, which a platform dialog does not have.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontConfirmOverwrite, true);
    OnInitDone();
    // The detail columns would otherwise keep widths too narrow for their text ("6 Dec ...").
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    resize(sizeHint().expandedTo(QSize(720, 440)));
}

void CSelectDialog::OnInitDone() {
    setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    setLabelText(QFileDialog::FileName, QStringLiteral("Title:"));
    // There is no filter, so the type list would only ever offer "all files".
    if (auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        types->hide();
    if (auto* typesLabel = findChild<QLabel*>(QStringLiteral("fileTypeLabel")))
        typesLabel->hide();
}
