#include "app/KelvarinDoc.h"

bool CKelvarinDoc::OnNewDocument() {
    m_strTitle = QStringLiteral("Interface");
    return true;
}
