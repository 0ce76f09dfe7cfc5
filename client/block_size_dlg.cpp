#include "block_size_dlg.h"

#include "client/client_ids.h"
#include "platform/control_ids.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CBlockSizeDlg::CBlockSizeDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Transmission block size error"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(kText, this);
    text->setWordWrap(true);
    text->setFixedWidth(350);
    layout->addWidget(text);
    auto* ok = new QPushButton(tr("OK"), this);
    platform::SetControlId(ok, skerry::IDOK);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
