#include "address_dialogs.h"

#include "platform/control_ids.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tftp {

using platform::AddressForm;
using platform::SetControlId;

CMultihomedDlg::CMultihomedDlg(AddressForm form, const std::vector<std::string>& addresses,
                               bool checkBox, QWidget* parent)
    : QDialog(parent), checkBoxValue_(checkBox) {
    setWindowTitle(form == AddressForm::Server
                       ? tr("Multihomed Host - Please select Servers Host Address")
                       : tr("Multihomed Host - Please select Clients Host Address"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    SetControlId(list_, IDC_ADDRESS_LIST);
    list_->setSortingEnabled(false);  // positions must match the address list
    for (const std::string& a : addresses) list_->addItem(QString::fromStdString(a));
    layout->addWidget(list_);
    if (form == AddressForm::Server) {
        dontShow_ = new QCheckBox(tr("Do not show this box again"), this);
        SetControlId(dontShow_, IDC_DONT_SHOW);
        dontShow_->setChecked(checkBox);
        layout->addWidget(dontShow_);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK_BUTTON);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void CMultihomedDlg::accept() {
    const int row = list_->currentRow();
    selected_ = (list_->currentItem() && list_->currentItem()->isSelected() && row >= 0) ? row : 0;
    if (dontShow_) checkBoxValue_ = dontShow_->isChecked();
    QDialog::accept();
}

CListenAddressDlg::CListenAddressDlg(AddressForm form, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Listening Address"));
    const char* who = form == AddressForm::Server ? "server" : "client";
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        tr("Because either your local host name or I.P. address could not be determined "
        "automatically you now have the chance to enter the I.P. manually.\n"
        "The I.P Address should be entered in dotted decimal format, i.e. 192.168.0.20"),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* label = new QLabel(form == AddressForm::Server ? tr("Server I.P. Address")
                                                         : tr("Client I.P. Address"),
                             this);
    layout->addWidget(label);
    edit_ = new QLineEdit(this);
    SetControlId(edit_, IDC_ADDRESS_EDIT);
    label->setBuddy(edit_);
    layout->addWidget(edit_);
    auto* warning = new QLabel(
        QString(tr("It should be noted that specifying an unusable address will prevent the %1 "
                "from operating, you must specify an address that your system recognises, "
                "simply entering any number that comes to mind does not usually work !"))
            .arg(who),
        this);
    warning->setWordWrap(true);
    layout->addWidget(warning);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), 1);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
}

std::string CListenAddressDlg::Typed() const { return edit_->text().toStdString(); }

}  // namespace tftp
