#include "local_address.h"

#include "platform/peer_address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace tftp {
namespace {

using platform::AddressForm;
using platform::PromptButtons;
using platform::PromptIcon;

constexpr std::size_t kHostNameBuffer = 100;
constexpr std::size_t kAddressTextLimit = 99;

std::vector<std::string> Texts(const std::vector<std::uint32_t>& list) {
    std::vector<std::string> texts;
    texts.reserve(list.size());
    for (const std::uint32_t a : list) texts.push_back(platform::InetNtoa(a));
    return texts;
}

void Keep(LocalAddressChoice& choice, std::uint32_t address) {
    choice.address = platform::InetNtoa(address).substr(0, kAddressTextLimit);
}

// The typed address, converted as inet_addr does: text that is not an
// address becomes 255.255.255.255, to which the later bind fails.
bool ManualEntry(platform::PromptService& prompts, AddressForm form, LocalAddressChoice& choice) {
    std::string typed;
    if (!prompts.EnterLocalAddress(form, typed)) return false;
    // An IPv6 literal binds as typed; anything else goes through inet_addr.
    platform::PeerAddress six;
    if (typed.find(':') != std::string::npos && platform::ParseAddress(typed, six) && six.v6) {
        choice.address = six.BindText().substr(0, kAddressTextLimit);
        return true;
    }
    Keep(choice, platform::InetAddr(typed));
    return true;
}

}  // namespace

bool SystemAddressProvider::HostName(std::string& name, int& error) {
    char buf[kHostNameBuffer] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        error = errno == ENETDOWN ? kNetworkDownError : errno;
        return false;
    }
    name = buf;
    return true;
}

bool SystemAddressProvider::HostAddresses(const std::string&, std::vector<std::uint32_t>& list) {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return false;
    list.clear();
    for (const ifaddrs* i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP)) continue;
        const std::uint32_t a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if ((ntohl(a) >> 24) == 127) continue;
        list.push_back(a);
    }
    ::freeifaddrs(all);
    if (list.empty()) list.push_back(htonl(INADDR_LOOPBACK));
    return true;
}

std::vector<std::string> SystemAddressProvider::AllAddresses() {
    std::vector<std::string> texts;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return texts;
    for (const ifaddrs* i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP)) continue;
        const int family = i->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        platform::PeerAddress a;
        if (family == AF_INET) {
            a.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        } else {
            const auto* six = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            a.v6 = true;
            std::memcpy(a.address6.data(), six->sin6_addr.s6_addr, 16);
        }
        std::string text = a.AddressText();
        // A link-local address is told apart by its interface.
        if (family == AF_INET6 && IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr))
            text += std::string("%") + i->ifa_name;
        texts.push_back(std::move(text));
    }
    ::freeifaddrs(all);
    return texts;
}

FixedAddressProvider::FixedAddressProvider(std::string hostName, std::vector<std::string> addresses)
    : hostName_(std::move(hostName)) {
    for (const std::string& a : addresses) addresses_.push_back(platform::InetAddr(a));
    texts_ = std::move(addresses);
}

std::vector<std::string> FixedAddressProvider::AllAddresses() {
    std::vector<std::string> all = texts_;
    for (const char* loopback : {"127.0.0.1", "::1"})
        if (std::find(all.begin(), all.end(), loopback) == all.end()) all.push_back(loopback);
    return all;
}

bool FixedAddressProvider::HostName(std::string& name, int& error) {
    if (failHostName) {
        error = hostNameError;
        return false;
    }
    name = hostName_;
    return true;
}

bool FixedAddressProvider::HostAddresses(const std::string&, std::vector<std::uint32_t>& list) {
    if (failLookup) return false;
    list = addresses_;
    return true;
}

bool SelectLocalAddress(AddressProvider& provider, platform::PromptService& prompts,
                        ServerAddressSettings settings, LocalAddressChoice& choice) {
    int error = 0;
    if (!provider.HostName(choice.hostName, error)) {
        prompts.MessageBox(std::string("Unable to resolve local host name\n") +
                               (error == kNetworkDownError
                                    ? "Network subsystem failure"
                                    : "Unspecified TCP/IP stack error\n(Possibly no adaptors installed)"),
                           PromptIcon::Warning, PromptButtons::Ok);
        return false;
    }
    std::vector<std::uint32_t> list;
    if (!provider.HostAddresses(choice.hostName, list) || list.empty()) {
        prompts.MessageBox("Unable to resolve Local Host I.P. address", PromptIcon::Warning,
                           PromptButtons::Ok);
        choice.addressCount = 0;
        return ManualEntry(prompts, AddressForm::Server, choice);
    }
    choice.addressCount = static_cast<int>(list.size());
    std::size_t index = 0;
    if (list.size() == 1) {
        settings.nDefAddress = 0;
    } else if (settings.nDefAddress >= 1 && settings.nDefAddress <= choice.addressCount &&
               settings.bShowMultihomed == 0) {
        index = static_cast<std::size_t>(settings.nDefAddress - 1);
    } else {
        bool dontShowAgain = settings.bShowMultihomed != 0;
        int selected = 0;
        if (prompts.ChooseLocalAddress(AddressForm::Server, Texts(list), dontShowAgain, selected)) {
            if (selected < 0 || selected >= choice.addressCount) selected = 0;
            index = static_cast<std::size_t>(selected);
            if (dontShowAgain) {
                settings.bShowMultihomed = 0;
                settings.nDefAddress = selected + 1;
            } else {
                settings.bShowMultihomed = 1;
            }
        }
    }
    Keep(choice, list[index]);
    return true;
}

bool SelectLocalAddress(AddressProvider& provider, platform::PromptService& prompts,
                        int& defaultIp, LocalAddressChoice& choice) {
    int error = 0;
    if (!provider.HostName(choice.hostName, error)) {
        prompts.MessageBox("Unable to resolve Local Host name", PromptIcon::Warning,
                           PromptButtons::Ok);
        choice.addressCount = 0;
        return ManualEntry(prompts, AddressForm::Client, choice);
    }
    std::vector<std::uint32_t> list;
    if (!provider.HostAddresses(choice.hostName, list) || list.empty()) {
        prompts.MessageBox("Unable to resolve Local Host I.P. address", PromptIcon::Warning,
                           PromptButtons::Ok);
        choice.addressCount = 0;
        return ManualEntry(prompts, AddressForm::Client, choice);
    }
    choice.addressCount = static_cast<int>(list.size());
    std::size_t index = 0;
    if (list.size() == 1) {
        defaultIp = 0;
    } else if (defaultIp >= 1 && defaultIp <= choice.addressCount) {
        index = static_cast<std::size_t>(defaultIp - 1);
    } else {
        bool unused = false;
        int selected = 0;
        if (prompts.ChooseLocalAddress(AddressForm::Client, Texts(list), unused, selected) &&
            selected >= 0 && selected < choice.addressCount)
            index = static_cast<std::size_t>(selected);
    }
    Keep(choice, list[index]);
    return true;
}

}  // namespace tftp
