// Choosing the one local IPv4 address a program binds its sockets to, and the
// list of every local address for a server that listens on all. A host
// with one address uses it; on a host with several the user picks one (or a
// remembered choice is used); when the host's addresses cannot be found the
// user types one.
#pragma once

#include "platform/prompt_service.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tftp {

// The host-name failure that is told apart: the network subsystem is down.
inline constexpr int kNetworkDownError = 10050;

class AddressProvider {
public:
    virtual ~AddressProvider() = default;
    // The local host name; false on failure, error then telling why.
    virtual bool HostName(std::string& name, int& error) = 0;
    // The host's IPv4 addresses in order (network byte order); false when
    // they cannot be found.
    virtual bool HostAddresses(const std::string& hostName, std::vector<std::uint32_t>& list) = 0;
    // Every address a socket bound to all addresses is reached at, IPv4 and
    // IPv6, loopback included, as address texts; empty when unknown.
    virtual std::vector<std::string> AllAddresses() { return {}; }
};

// The machine's own: the IPv4 addresses of the interfaces that are up, in
// the order the system lists them, loopback left out; 127.0.0.1 alone when
// there is no other.
class SystemAddressProvider final : public AddressProvider {
public:
    bool HostName(std::string& name, int& error) override;
    bool HostAddresses(const std::string& hostName, std::vector<std::uint32_t>& list) override;
    std::vector<std::string> AllAddresses() override;
};

// A fixed answer, for tests and for callers that know better.
class FixedAddressProvider final : public AddressProvider {
public:
    FixedAddressProvider(std::string hostName, std::vector<std::string> addresses);
    bool HostName(std::string& name, int& error) override;
    bool HostAddresses(const std::string& hostName, std::vector<std::uint32_t>& list) override;
    // The given addresses, then 127.0.0.1 and ::1.
    std::vector<std::string> AllAddresses() override;

    bool failHostName = false;
    int hostNameError = 0;
    bool failLookup = false;

private:
    std::string hostName_;
    std::vector<std::uint32_t> addresses_;
    std::vector<std::string> texts_;
};

struct LocalAddressChoice {
    std::string hostName;    // as the host reported it
    int addressCount = 0;    // entries in the host's address list
    std::string address;     // the chosen address, dotted
};

// The server's remembered choice, updated by the selection.
struct ServerAddressSettings {
    int& nDefAddress;       // 1-based; 0 none; 255 never chosen
    int& bShowMultihomed;   // ask at every start
};

// The server's form. On failure the reason has been shown (or the user
// cancelled the manual entry).
bool SelectLocalAddress(AddressProvider& provider, platform::PromptService& prompts,
                        ServerAddressSettings settings, LocalAddressChoice& choice);

// The client's form: defaultIp is its "Default IP" (1-based; 0 none).
bool SelectLocalAddress(AddressProvider& provider, platform::PromptService& prompts,
                        int& defaultIp, LocalAddressChoice& choice);

}  // namespace tftp
