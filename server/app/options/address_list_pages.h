// The Allow and Deny pages: a switch and ten address patterns each, in five
// rows of two (slot 1 top left, slot 10 bottom right).
#pragma once

#include "options_page.h"

#include "server/app/server_settings.h"

#include <array>
#include <string>

class QCheckBox;
class QLineEdit;

class CAddressListPage : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDC_SWITCH = 1005;
    // Slot k (1..10) is edited in IDC_SLOT_BASE + k: 1006 .. 1015.
    static constexpr int IDC_SLOT_BASE = 1005;
    static constexpr int SlotId(int slot) { return IDC_SLOT_BASE + slot; }

    using List = std::array<std::string, ServerSettings::kListSlots>;

    void ReadSettings();

    int m_bSwitch = 0;
    List m_slots;

protected:
    CAddressListPage(int dialogId, const QString& caption, const QString& switchText,
                     ServerSettings& settings, int ServerSettings::*switchField,
                     List ServerSettings::*listField);

    void DoDataExchange(bool save) override;
    void OnOK() override;

private:
    ServerSettings& settings_;
    int ServerSettings::*switchField_;
    List ServerSettings::*listField_;
    QCheckBox* switch_ = nullptr;
    std::array<QLineEdit*, ServerSettings::kListSlots> edits_{};
};

// "Only allow these connections": bAllow and Allow.
class CAllow : public CAddressListPage {
    Q_OBJECT
public:
    static constexpr int IDD = 106;
    explicit CAllow(ServerSettings& settings);
};

// "Do not allow these connections": bDeny and Deny.
class CDeny : public CAddressListPage {
    Q_OBJECT
public:
    static constexpr int IDD = 107;
    explicit CDeny(ServerSettings& settings);
};
