// Choosing the local address, in the server's and the client's form.
#include "common/local_address.h"
#include "platform/peer_address.h"
#include "platform/scripted_prompt_service.h"

#include <gtest/gtest.h>

using platform::AddressForm;
using platform::ScriptedPromptService;
using tftp::FixedAddressProvider;
using tftp::LocalAddressChoice;
using tftp::SelectLocalAddress;
using tftp::ServerAddressSettings;

namespace {

struct ServerCase {
    int nDefAddress = 255;
    int bShowMultihomed = 1;
    ScriptedPromptService prompts;
    LocalAddressChoice choice;
    bool Select(FixedAddressProvider& provider) {
        return SelectLocalAddress(provider, prompts, ServerAddressSettings{nDefAddress, bShowMultihomed},
                                  choice);
    }
};

ScriptedPromptService::Answer Pick(int index, bool box) {
    ScriptedPromptService::Answer a;
    a.index = index;
    a.checkBox = box;
    a.touchCheckBox = true;
    return a;
}

}  // namespace

TEST(SelectLocalAddressServer, OneAddressAsksNothingAndForgetsTheRememberedChoice) {
    FixedAddressProvider provider("host", {"192.168.0.5"});
    ServerCase c;
    c.nDefAddress = 3;
    ASSERT_TRUE(c.Select(provider));
    EXPECT_EQ(c.choice.address, "192.168.0.5");
    EXPECT_EQ(c.choice.hostName, "host");
    EXPECT_EQ(c.choice.addressCount, 1);
    EXPECT_EQ(c.nDefAddress, 0);
    EXPECT_TRUE(c.prompts.Prompts().empty());
}

TEST(SelectLocalAddressServer, FirstStartOnTwoAddressesAsksAndRemembersWhenTicked) {
    FixedAddressProvider provider("host", {"10.0.0.1", "10.0.0.2"});
    ServerCase c;
    c.prompts.Queue(Pick(1, true));
    ASSERT_TRUE(c.Select(provider));
    ASSERT_EQ(c.prompts.Prompts().size(), 1u);
    const auto& shown = c.prompts.Prompts()[0];
    EXPECT_EQ(shown.form, AddressForm::Server);
    EXPECT_TRUE(shown.checkBoxShown);  // bShowMultihomed 1 opens it ticked
    EXPECT_EQ(shown.addresses, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(c.choice.address, "10.0.0.2");
    EXPECT_EQ(c.nDefAddress, 2);
    EXPECT_EQ(c.bShowMultihomed, 0);

    // The next start uses the remembered address without asking.
    c.prompts.Clear();
    ASSERT_TRUE(c.Select(provider));
    EXPECT_TRUE(c.prompts.Prompts().empty());
    EXPECT_EQ(c.choice.address, "10.0.0.2");
}

TEST(SelectLocalAddressServer, UntickedBoxMeansAskAgainAndKeepsTheIndex) {
    FixedAddressProvider provider("host", {"10.0.0.1", "10.0.0.2"});
    ServerCase c;
    c.nDefAddress = 2;
    c.bShowMultihomed = 1;
    c.prompts.Queue(Pick(0, false));
    ASSERT_TRUE(c.Select(provider));
    EXPECT_EQ(c.choice.address, "10.0.0.1");
    EXPECT_EQ(c.bShowMultihomed, 1);
    EXPECT_EQ(c.nDefAddress, 2);
}

TEST(SelectLocalAddressServer, RememberedIndexOutOfRangeOpensTheDialog) {
    FixedAddressProvider provider("host", {"10.0.0.1", "10.0.0.2"});
    ServerCase c;
    c.nDefAddress = 3;
    c.bShowMultihomed = 0;
    c.prompts.Queue(Pick(1, true));
    ASSERT_TRUE(c.Select(provider));
    EXPECT_EQ(c.prompts.Prompts().size(), 1u);
    EXPECT_FALSE(c.prompts.Prompts()[0].checkBoxShown);
    EXPECT_EQ(c.nDefAddress, 2);
}

TEST(SelectLocalAddressServer, EscapeUsesTheFirstAddressAndChangesNothing) {
    FixedAddressProvider provider("host", {"10.0.0.1", "10.0.0.2"});
    ServerCase c;
    ScriptedPromptService::Answer escape;
    escape.ok = false;
    c.prompts.Queue(escape);
    ASSERT_TRUE(c.Select(provider));
    EXPECT_EQ(c.choice.address, "10.0.0.1");
    EXPECT_EQ(c.nDefAddress, 255);
    EXPECT_EQ(c.bShowMultihomed, 1);
}

TEST(SelectLocalAddressServer, HostNameFailureTellsWhyAndFails) {
    FixedAddressProvider provider("host", {"10.0.0.1"});
    provider.failHostName = true;
    provider.hostNameError = tftp::kNetworkDownError;
    ServerCase c;
    EXPECT_FALSE(c.Select(provider));
    EXPECT_EQ(c.prompts.MessageTexts(),
              (std::vector<std::string>{"Unable to resolve local host name\nNetwork subsystem failure"}));
    provider.hostNameError = 1;
    ServerCase d;
    EXPECT_FALSE(d.Select(provider));
    EXPECT_EQ(d.prompts.MessageTexts()[0],
              "Unable to resolve local host name\nUnspecified TCP/IP stack error\n"
              "(Possibly no adaptors installed)");
}

TEST(SelectLocalAddressServer, LookupFailureAsksForTheAddress) {
    FixedAddressProvider provider("host", {});
    provider.failLookup = true;
    ServerCase c;
    ScriptedPromptService::Answer typed;
    typed.typed = "192.168.0.20";
    c.prompts.Queue(ScriptedPromptService::Answer{});  // the message box
    c.prompts.Queue(typed);
    ASSERT_TRUE(c.Select(provider));
    EXPECT_EQ(c.choice.address, "192.168.0.20");
    EXPECT_EQ(c.prompts.MessageTexts()[0], "Unable to resolve Local Host I.P. address");

    // Text that is not an address becomes the no-address value; cancelling fails.
    ServerCase d;
    typed.typed = "myserver";
    d.prompts.Queue(ScriptedPromptService::Answer{});
    d.prompts.Queue(typed);
    ASSERT_TRUE(d.Select(provider));
    EXPECT_EQ(d.choice.address, "255.255.255.255");
    ServerCase e;
    EXPECT_FALSE(e.Select(provider));
}

TEST(SelectLocalAddressClient, RememberedIndexIsUsedWithoutAsking) {
    FixedAddressProvider provider("host", {"10.0.0.1", "10.0.0.2"});
    ScriptedPromptService prompts;
    int defaultIp = 2;
    LocalAddressChoice choice;
    ASSERT_TRUE(SelectLocalAddress(provider, prompts, defaultIp, choice));
    EXPECT_EQ(choice.address, "10.0.0.2");
    EXPECT_TRUE(prompts.Prompts().empty());
}

TEST(SelectLocalAddressClient, DialogChoiceIsNotRememberedAndOneAddressResetsIt) {
    FixedAddressProvider two("host", {"10.0.0.1", "10.0.0.2"});
    ScriptedPromptService prompts;
    int defaultIp = 0;
    LocalAddressChoice choice;
    prompts.Queue(Pick(1, true));
    ASSERT_TRUE(SelectLocalAddress(two, prompts, defaultIp, choice));
    EXPECT_EQ(choice.address, "10.0.0.2");
    EXPECT_EQ(defaultIp, 0);
    EXPECT_EQ(prompts.Prompts()[0].form, AddressForm::Client);

    FixedAddressProvider one("host", {"10.0.0.9"});
    defaultIp = 2;
    ASSERT_TRUE(SelectLocalAddress(one, prompts, defaultIp, choice));
    EXPECT_EQ(defaultIp, 0);
    EXPECT_EQ(choice.address, "10.0.0.9");
}

TEST(SelectLocalAddressClient, HostNameFailureGoesToManualEntry) {
    FixedAddressProvider provider("host", {"10.0.0.1"});
    provider.failHostName = true;
    ScriptedPromptService prompts;
    ScriptedPromptService::Answer typed;
    typed.typed = "10.1.2.3";
    prompts.Queue(ScriptedPromptService::Answer{});
    prompts.Queue(typed);
    int defaultIp = 0;
    LocalAddressChoice choice;
    ASSERT_TRUE(SelectLocalAddress(provider, prompts, defaultIp, choice));
    EXPECT_EQ(prompts.MessageTexts()[0], "Unable to resolve Local Host name");
    EXPECT_EQ(prompts.Prompts()[1].form, AddressForm::Client);
    EXPECT_EQ(choice.address, "10.1.2.3");
}

TEST(SystemAddressProvider, ListsAtLeastOneAddressAndNoLoopbackButTheFallback) {
    tftp::SystemAddressProvider provider;
    std::string name;
    int error = 0;
    ASSERT_TRUE(provider.HostName(name, error));
    EXPECT_FALSE(name.empty());
    std::vector<std::uint32_t> list;
    ASSERT_TRUE(provider.HostAddresses(name, list));
    ASSERT_FALSE(list.empty());
    if (list.size() > 1) {
        for (const std::uint32_t a : list) EXPECT_NE(platform::InetNtoa(a).rfind("127.", 0), 0u);
    }
}
