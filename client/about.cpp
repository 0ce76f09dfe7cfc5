#include "about.h"

#include "client/client_ids.h"
#include "platform/control_ids.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QWidget* CentredPage(int templateId, const QStringList& lines) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("page%1").arg(templateId));
    auto* layout = new QVBoxLayout(page);
    layout->addStretch(1);
    for (const QString& line : lines) {
        // Lines are broken by hand: the page is as large as its lines need
        // at any font size, and none is cut.
        auto* label = new QLabel(line, page);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    return page;
}

}  // namespace

CAbout::CAbout(const QString& caption, int selectPage, std::function<void()> closed)
    : QDialog(nullptr), closed_(std::move(closed)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->addTab(CentredPage(skerry::IDD_ABOUT_COMPANY,
                               {"Brellin", tr("Small tools for moving files on a network"),
                                tr("Write to the makers through the project's README.")}),
                   skerry::kAboutCompanyTab);
    pages_->addTab(CentredPage(skerry::IDD_ABOUT_VERSION,
                               {tr("<b>Skerry - Halden Client</b>"), tr("Version 1.0"),
                                tr("A TFTP client for IPv4 (RFC 1350,\nwith the blksize, timeout "
                                   "and tsize options)."),
                                tr("Copyright the Brellin developers."),
                                tr("Free software under the MIT License\n(see the LICENSE file)."),
                                tr("Sends and fetches one file at a time."),
                                tr("Settings are kept in Skerry.INI\nin your configuration folder."),
                                tr("Bug reports are welcome."),
                                tr("For help press F1, or choose Help > Index.")}),
                   skerry::kAboutVersionTab);
    pages_->setCurrentIndex(selectPage);
    layout->addWidget(pages_);
    auto* ok = new QPushButton(tr("OK"), this);
    platform::SetControlId(ok, skerry::IDOK);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // OK, Escape and the close box all end the window for good.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
    layout->addWidget(ok, 0, Qt::AlignRight);
    resize(sizeHint().expandedTo(QSize(380, 260)));
    show();
}

CAbout::~CAbout() {
    if (closed_) closed_();
}
