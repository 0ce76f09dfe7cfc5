#include "about_sheet.h"

#include "platform/control_ids.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QWidget* TextPage(const QStringList& lines) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    for (const QString& line : lines) {
        auto* label = new QLabel(line, page);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    return page;
}

}  // namespace

CAbout::CAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr(kCaption));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    pages_ = new QTabWidget(this);
    pages_->addTab(TextPage({QStringLiteral("Brellin"),
                             tr("Makers of small network tools for the desktop."),
                             tr("Questions and reports: see the README of this program's "
                                            "source tree.")}),
                   tr(kAboutPage));
    pages_->addTab(TextPage({tr("Vantrel"),
                             tr("TFTP server (RFC 1350 with the blksize, timeout and tsize "
                                            "options)"),
                             tr("Version %1").arg(QStringLiteral(VANTREL_VERSION)),
                             tr("Free software under the MIT License (see the LICENSE file).")}),
                   tr(kVersionPage));
    pages_->setCurrentIndex(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    platform::SetControlId(buttons->button(QDialogButtonBox::Ok), 1);
    // OK destroys the sheet.
    connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addWidget(buttons);
}
