#include "folder_browser.h"

#include "folder_system.h"

#include "platform/control_ids.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using platform::SetControlId;

namespace {

// The wait cursor for as long as the dialog is being opened.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString Text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CFolderBrowser::DriveLister CFolderBrowser::DefaultDrives() { return folders::SystemDrives; }

CFolderBrowser::CFolderBrowser(const std::string& path, QWidget* parent,
                               const DriveLister& drives)
    : QDialog(parent), path_(path) {
    setWindowTitle(tr("Folder Browser"));
    setProperty(platform::kControlIdProperty, IDD);

    auto* layout = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    layout->addWidget(icon, 0, 0, Qt::AlignTop);

    pathEdit_ = new QLineEdit(this);
    SetControlId(pathEdit_, IDC_PATH);
    pathEdit_->setReadOnly(true);  // long paths scroll within the box
    layout->addWidget(pathEdit_, 0, 1);

    folders_ = new QListWidget(this);
    SetControlId(folders_, IDC_FOLDERS);
    folders_->setSortingEnabled(false);
    folders_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(folders_, 1, 1);

    drives_ = new QComboBox(this);
    SetControlId(drives_, IDC_DRIVES);
    layout->addWidget(drives_, 2, 1);

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    ok_ = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    SetControlId(ok_, IDOK_BUTTON);
    SetControlId(cancel, IDCANCEL_BUTTON);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons, 1, 2, Qt::AlignTop);

    connect(folders_, &QListWidget::itemDoubleClicked, this,
            &CFolderBrowser::OnFolderDoubleClicked);
    connect(drives_, &QComboBox::activated, this, &CFolderBrowser::OnDriveChosen);

    // Opening: reading the mount table and the first folder may be slow.
    const WaitCursor wait;
    pathEdit_->setText(Text(path_));
    path_ = folders::FolderOfPath(path_);
    const std::vector<std::string> driveList = drives();  // sorted
    for (const std::string& d : driveList) drives_->addItem(Text(d));
    drives_->setCurrentIndex(folders::DriveOf(path_, driveList));
    FillList();
    resize(420, 320);
}

void CFolderBrowser::SetMaxPathLength(std::size_t length) {
    maxPathLength_ = length;
    UpdateOkButton();
}

void CFolderBrowser::FillList() {
    folders_->clear();
    if (folders::HasParentEntry(path_)) folders_->addItem(kUpEntry);
    for (const std::string& name : folders::ListSubFolders(path_)) folders_->addItem(Text(name));
    pathEdit_->setText(Text(path_));
    UpdateOkButton();
}

void CFolderBrowser::OnFolderDoubleClicked(QListWidgetItem* item) {
    if (!item) return;
    // "[..]" is always the first entry; a folder could carry the same name.
    if (folders_->row(item) == 0 && folders::HasParentEntry(path_))
        path_ = folders::ParentFolder(path_);
    else
        path_ += item->text().toStdString() + "/";
    FillList();
}

void CFolderBrowser::OnDriveChosen(int index) {
    if (index < 0) return;
    path_ = drives_->itemText(index).toStdString();
    FillList();
}

void CFolderBrowser::UpdateOkButton() {
    const bool fits = maxPathLength_ == 0 || path_.size() <= maxPathLength_;
    ok_->setEnabled(fits);
    ok_->setToolTip(fits ? QString()
                         : QString(tr("The folder path is longer than %1 characters and "
                                   "cannot be stored"))
                               .arg(maxPathLength_));
}
