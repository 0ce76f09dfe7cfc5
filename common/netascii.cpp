#include "netascii.h"

namespace tftp {
namespace {
constexpr std::uint8_t kCr = '\r';
constexpr std::uint8_t kLf = '\n';
constexpr std::uint8_t kCtrlZ = 0x1A;
}  // namespace

std::size_t NetasciiReadConverter::Convert(const std::uint8_t* in, std::size_t inLen,
                                           bool inputEnds, std::uint8_t* out,
                                           std::size_t outCap, std::size_t& consumed) {
    std::size_t i = 0, o = 0;
    while (!ended_ && i < inLen && o < outCap) {
        const std::uint8_t c = in[i];
        if (c == kCtrlZ) {
            ended_ = true;
            ++i;
            break;
        }
        if (c == kCr) {
            if (i + 1 == inLen && !inputEnds) break;  // wait for the next byte
            if (i + 1 < inLen && in[i + 1] == kLf) {
                out[o++] = kLf;
                i += 2;
                continue;
            }
        }
        out[o++] = c;
        ++i;
    }
    consumed = i;
    return o;
}

std::size_t NetasciiWriteConverter::Convert(const std::uint8_t* in, std::size_t inLen,
                                            std::uint8_t* out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < inLen; ++i) {
        const std::uint8_t c = in[i];
        if (c == kLf && !lastWasCr_) out[o++] = kCr;
        out[o++] = c;
        lastWasCr_ = (c == kCr);
    }
    return o;
}

}  // namespace tftp
