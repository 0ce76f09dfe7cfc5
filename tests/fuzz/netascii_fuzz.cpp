// The netascii converters: reading in arbitrary pieces gives what reading in
// one piece gives, and writing never overruns its output.
#include "common/netascii.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 7;
    const std::uint8_t* in = data + 1;
    const std::size_t len = size - 1;

    std::vector<std::uint8_t> whole(len + 1);
    tftp::NetasciiReadConverter one;
    std::size_t consumed = 0;
    const std::size_t wholeLen = one.Convert(in, len, true, whole.data(), whole.size(), consumed);

    tftp::NetasciiReadConverter split;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> pending;
    std::size_t pos = 0;
    while (!split.Ended()) {
        const std::size_t take = std::min(piece, len - pos);
        pending.insert(pending.end(), in + pos, in + pos + take);
        pos += take;
        const bool ends = pos == len;
        std::vector<std::uint8_t> chunk(pending.size() + 1);
        std::size_t used = 0;
        const std::size_t n = split.Convert(pending.data(), pending.size(), ends, chunk.data(),
                                            chunk.size(), used);
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
        if (ends && pending.empty()) break;
        if (ends && n == 0 && used == 0) std::abort();  // no progress at the end
    }
    if (out.size() != wholeLen) std::abort();
    if (wholeLen > 0 && std::memcmp(out.data(), whole.data(), wholeLen) != 0) std::abort();

    tftp::NetasciiWriteConverter w;
    std::vector<std::uint8_t> written(2 * len);
    const std::size_t wlen = w.Convert(in, len, written.data());
    if (wlen > 2 * len || wlen < len) std::abort();
    return 0;
}
