// The server's request reader on any datagram.
#include "common/tftp_packet.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tftp::Request r = tftp::ParseRequest(data, size);
    // Everything read lies inside the first 100 bytes.
    if (r.fileName.size() + r.mode.size() > 100) std::abort();
    // Each option takes at least a name character and two NULs of the 100 bytes.
    if (r.options.size() > 34) std::abort();
    tftp::IsNetasciiMode(r.mode);
    tftp::IsOctetMode(r.mode);
    return 0;
}
