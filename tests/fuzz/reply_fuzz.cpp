// The client's readers of option acknowledgements and errors, and the round
// trip of an OACK the server builds from whatever values it read.
#include "common/tftp_packet.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto options = tftp::ReadOptions(data, size, 2);
    const std::string text = tftp::ReadErrorText(data, size);
    if (text.size() > size) std::abort();

    tftp::OackValues v;
    for (const tftp::Option& o : options) {
        switch (o.name) {
        case tftp::OptionName::Tsize: v.tsize = static_cast<std::int64_t>(o.value >> 1); break;
        case tftp::OptionName::Timeout: v.timeout = tftp::Saturate32(o.value); break;
        case tftp::OptionName::Blksize: v.blksize = tftp::Saturate32(o.value); break;
        case tftp::OptionName::Other: break;
        }
    }
    std::uint8_t oack[128];
    const std::size_t n = tftp::BuildOack(oack, sizeof oack, v);
    const auto back = tftp::ReadOptions(oack, n, 2);
    if (n > 0 && back.size() != (v.tsize ? 1u : 0u) + (v.timeout ? 1u : 0u) + (v.blksize ? 1u : 0u))
        std::abort();
    return 0;
}
