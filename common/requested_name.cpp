#include "requested_name.h"

namespace tftp {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::optional<std::string> NameInFolder(std::string_view requested) {
    if (requested.find('\0') != std::string_view::npos) return std::nullopt;
    std::string relative;
    relative.reserve(requested.size());
    std::size_t pos = 0;
    while (pos < requested.size()) {
        if (IsSeparator(requested[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < requested.size() && !IsSeparator(requested[end])) ++end;
        const std::string_view part = requested.substr(pos, end - pos);
        if (part == "..") return std::nullopt;
        if (!relative.empty()) relative += '/';
        relative += part;
        pos = end;
    }
    if (relative.empty()) return std::nullopt;
    if (IsSeparator(requested.back())) relative += '/';
    return relative;
}

std::string FileInFolder(std::string_view folder, std::string_view relative) {
    std::string path;
    path.reserve(folder.size() + 1 + relative.size());
    path += folder;
    if (!folder.empty() && folder.back() != '/') path += '/';
    path += relative;
    return path;
}

}  // namespace tftp
