// The dialogs of local address selection: the choice among the addresses of
// a multihomed host, and the manual entry when the host's address cannot be
// found. Each exists in the server's and the client's wording.
#pragma once

#include "platform/prompt_service.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace tftp {

class CMultihomedDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDC_ADDRESS_LIST = 1034;
    static constexpr int IDC_DONT_SHOW = 1035;
    static constexpr int IDOK_BUTTON = 1;

    // checkBox: the initial state of "Do not show this box again" (server form only).
    CMultihomedDlg(platform::AddressForm form, const std::vector<std::string>& addresses,
                   bool checkBox, QWidget* parent = nullptr);

    int SelectedIndex() const { return selected_; }
    bool CheckBox() const { return checkBoxValue_; }

    void accept() override;

private:
    QListWidget* list_ = nullptr;
    QCheckBox* dontShow_ = nullptr;
    int selected_ = 0;
    bool checkBoxValue_ = false;
};

class CListenAddressDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDC_ADDRESS_EDIT = 1006;

    explicit CListenAddressDlg(platform::AddressForm form, QWidget* parent = nullptr);
    std::string Typed() const;

private:
    QLineEdit* edit_ = nullptr;
};

}  // namespace tftp
