// The address dialogs as real widgets.
#include "common/widgets/address_dialogs.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/control_ids.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

using platform::AddressForm;
using platform::FindControl;
using tftp::CListenAddressDlg;
using tftp::CMultihomedDlg;

TEST(CMultihomedDlg, ServerFormListsAddressesInOrderWithTheCheckBox) {
    CMultihomedDlg dlg(AddressForm::Server, {"10.0.0.2", "10.0.0.1"}, true);
    EXPECT_EQ(dlg.windowTitle(), "Multihomed Host - Please select Servers Host Address");
    auto* list = FindControl<QListWidget>(&dlg, CMultihomedDlg::IDC_ADDRESS_LIST);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "10.0.0.2");  // not sorted
    auto* box = FindControl<QCheckBox>(&dlg, CMultihomedDlg::IDC_DONT_SHOW);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Do not show this box again");
    EXPECT_TRUE(box->isChecked());

    list->setCurrentRow(1);
    box->setChecked(false);
    dlg.accept();
    EXPECT_EQ(dlg.SelectedIndex(), 1);
    EXPECT_FALSE(dlg.CheckBox());
}

TEST(CMultihomedDlg, NoSelectionGivesIndexZeroAndTheClientFormHasNoCheckBox) {
    CMultihomedDlg dlg(AddressForm::Client, {"10.0.0.1", "10.0.0.2"}, false);
    EXPECT_EQ(dlg.windowTitle(), "Multihomed Host - Please select Clients Host Address");
    EXPECT_EQ(FindControl<QCheckBox>(&dlg, CMultihomedDlg::IDC_DONT_SHOW), nullptr);
    dlg.accept();
    EXPECT_EQ(dlg.SelectedIndex(), 0);
}

TEST(CListenAddressDlg, StartsEmptyAndReturnsWhatWasTyped) {
    CListenAddressDlg dlg(AddressForm::Server);
    EXPECT_EQ(dlg.windowTitle(), "Listening Address");
    auto* edit = FindControl<QLineEdit>(&dlg, CListenAddressDlg::IDC_ADDRESS_EDIT);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->text().isEmpty());
    QTest::keyClicks(edit, "192.168.0.20");
    EXPECT_EQ(dlg.Typed(), "192.168.0.20");
}

TEST(CListenAddressDlg, ClientCopySaysClient) {
    CListenAddressDlg dlg(AddressForm::Client);
    bool found = false;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        if (l->text().contains("prevent the client from operating")) found = true;
    EXPECT_TRUE(found);
}

// Without a visible display the multihomed question takes the first address
// (Enter), keeps the check box as it was and says so on standard error.
TEST(DialogPromptService, HeadlessChoiceTakesTheFirstAddress) {
    tftp::DialogPromptService prompts("Vantrel");
    ASSERT_TRUE(prompts.Headless()) << "the tests run on the offscreen platform";
    bool checkBox = true;
    int index = 5;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(prompts.ChooseLocalAddress(AddressForm::Server, {"10.0.0.2", "10.0.0.1"}, checkBox, index));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Vantrel: Multihomed Host: 10.0.0.2, 10.0.0.1 [10.0.0.2]\n");
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(checkBox);
}
