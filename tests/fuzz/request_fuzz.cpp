// The server's request reader on any datagram, and the name it asks for made
// into a path inside the folder.
#include "common/requested_name.h"
#include "common/tftp_packet.h"

#include <cstdlib>
#include <string_view>

namespace {

// What a name inside the folder may never be: absolute, with a backslash, a
// doubled separator or a parent part.
bool StaysBelow(std::string_view relative) {
    if (relative.empty() || relative.front() == '/') return false;
    if (relative.find('\\') != std::string_view::npos || relative.find("//") != std::string_view::npos) return false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        if (relative.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tftp::Request r = tftp::ParseRequest(data, size);
    // Everything read lies inside the first 512 bytes.
    if (r.fileName.size() + r.mode.size() > static_cast<std::size_t>(tftp::kMaxRequestLength)) std::abort();
    // Each option takes at least a name character and two NULs, and reading
    // stops once 90 characters of names and digits are read.
    if (r.options.size() > static_cast<std::size_t>(tftp::kOptionReadLimit)) std::abort();
    tftp::IsNetasciiMode(r.mode);
    tftp::IsOctetMode(r.mode);
    if (const auto relative = tftp::NameInFolder(r.fileName)) {
        if (!StaysBelow(*relative) || relative->size() > r.fileName.size()) std::abort();
        if (tftp::FileInFolder("/srv/tftp", *relative).compare(0, 10, "/srv/tftp/") != 0) std::abort();
    }
    return 0;
}
