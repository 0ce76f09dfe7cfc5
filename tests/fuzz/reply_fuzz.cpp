// The client's readers of option acknowledgements and errors, and the round
// trip of an OACK the server builds from whatever values it read.
#include "common/tftp_packet.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto options = tftp::ReadOptions(data, size, 2);
    const std::string text = tftp::ReadErrorText(data, size);
    if (text.size() > size) std::abort();

    tftp::OptionValues v;
    for (const tftp::Option& o : options) v.Set(o.name, o.value);
    std::uint8_t oack[128];
    const std::size_t n = tftp::BuildOack(oack, sizeof oack, v);
    const auto back = tftp::ReadOptions(oack, n, 2);
    std::size_t present = 0;
    for (const tftp::OptionInfo& info : tftp::kKnownOptions) present += v.Get(info.id) ? 1 : 0;
    if (n > 0 && back.size() != present) std::abort();
    for (const tftp::Option& o : back)
        if (v.Get(o.name) != o.value) std::abort();
    return 0;
}
