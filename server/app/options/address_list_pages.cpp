#include "address_list_pages.h"

#include "setting_text.h"

#include "platform/control_ids.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QVBoxLayout>

using platform::SetControlId;

CAddressListPage::CAddressListPage(int dialogId, const QString& caption,
                                   const QString& switchText, ServerSettings& settings,
                                   int ServerSettings::*switchField,
                                   List ServerSettings::*listField)
    : COptionsPage(dialogId, caption),
      settings_(settings),
      switchField_(switchField),
      listField_(listField) {
    auto* layout = new QVBoxLayout(this);
    switch_ = new QCheckBox(switchText, this);
    SetControlId(switch_, IDC_SWITCH);
    WatchButton(switch_);
    layout->addWidget(switch_);
    auto* grid = new QGridLayout;
    for (int slot = 1; slot <= ServerSettings::kListSlots; ++slot) {
        auto* edit = new QLineEdit(this);
        SetControlId(edit, SlotId(slot));
        edit->setAccessibleName(QStringLiteral("%1 address %2").arg(caption).arg(slot));
        options::LimitEdit(edit, options::TextKind::Plain);
        WatchEdit(edit);
        grid->addWidget(edit, (slot - 1) / 2, (slot - 1) % 2);
        edits_[static_cast<std::size_t>(slot - 1)] = edit;
    }
    layout->addLayout(grid);
    layout->addStretch(1);
}

void CAddressListPage::ReadSettings() {
    m_bSwitch = settings_.*switchField_;
    m_slots = settings_.*listField_;
}

void CAddressListPage::DoDataExchange(bool save) {
    if (save) {
        m_bSwitch = switch_->isChecked() ? 1 : 0;
        for (std::size_t i = 0; i < edits_.size(); ++i) m_slots[i] = edits_[i]->text().toStdString();
    } else {
        switch_->setChecked(m_bSwitch != 0);
        for (std::size_t i = 0; i < edits_.size(); ++i)
            edits_[i]->setText(options::CutToSetting(QString::fromStdString(m_slots[i]),
                                                     options::TextKind::Plain));
    }
}

void CAddressListPage::OnOK() {
    settings_.*switchField_ = m_bSwitch;
    settings_.*listField_ = m_slots;
}

CAllow::CAllow(ServerSettings& settings)
    : CAddressListPage(IDD, tr("Allow"), tr("Only allow these connections"), settings,
                       &ServerSettings::bAllow, &ServerSettings::Allow) {}

CDeny::CDeny(ServerSettings& settings)
    : CAddressListPage(IDD, tr("Deny"), tr("Do not allow these connections"), settings,
                       &ServerSettings::bDeny, &ServerSettings::Deny) {}
