// Requested file names made into paths inside their folder: separators as
// boot loaders write them, parent parts in every spelling, long names.
#include "common/requested_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using tftp::FileInFolder;
using tftp::NameInFolder;

namespace {
const std::optional<std::string> kRefused;
}  // namespace

TEST(NameInFolder, SeparatorsAsBootLoadersWriteThemAndParentPartsRefused) {
    const std::string long200(200, 'n');
    const std::string long500 = std::string(250, 'a') + "/" + std::string(249, 'b');
    struct Case {
        std::string requested;
        std::optional<std::string> relative;
    };
    const Case cases[] = {
        // Names accepted before come back byte for byte.
        {"pxelinux.0", "pxelinux.0"},
        {"pxelinux.cfg/01-52-54-00-12-34-56", "pxelinux.cfg/01-52-54-00-12-34-56"},
        {"debian-installer/amd64/boot-screens/vesamenu.c32", "debian-installer/amd64/boot-screens/vesamenu.c32"},
        {"./x", "./x"},
        {"a..b", "a..b"},
        {"...", "..."},
        {"..x", "..x"},
        {"x..", "x.."},
        {"C:x", "C:x"},
        {" ..", " .."},
        // Leading, doubled and back slashes.
        {"/pxelinux.0", "pxelinux.0"},
        {"//boot/x", "boot/x"},
        {"boot\\x", "boot/x"},
        {"\\boot\\x", "boot/x"},
        {"\\\\server\\share\\x", "server/share/x"},
        {"a//b", "a/b"},
        {"a/\\/b", "a/b"},
        {"/etc/passwd", "etc/passwd"},
        {"dir/", "dir/"},
        {"dir\\\\", "dir/"},
        // Parent parts in every spelling.
        {"..", kRefused},
        {"../x", kRefused},
        {"..\\x", kRefused},
        {"/../x", kRefused},
        {"a/../../x", kRefused},
        {"a\\..\\..\\x", kRefused},
        {"a/..\\x", kRefused},
        {"a/..", kRefused},
        {"a\\..", kRefused},
        {"a/../", kRefused},
        {"a/./../b", kRefused},
        // Nothing left to name, or a NUL that would cut the name short.
        {"", kRefused},
        {"/", kRefused},
        {"\\//\\", kRefused},
        {std::string("a\0/../x", 7), kRefused},
        // Long names: any length that reaches here is taken as it is.
        {long200, long200},
        {"/" + long200, long200},
        {long500, long500},
        {"\\" + std::string(250, 'a') + "\\\\" + std::string(249, 'b'), long500},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameInFolder(c.requested), c.relative) << '"' << c.requested << '"';
    }
}

TEST(FileInFolder, JoinsWithOneSeparator) {
    struct Case {
        std::string folder, relative, path;
    };
    const Case cases[] = {
        {"/srv/tftp/", "boot/x", "/srv/tftp/boot/x"},
        {"/srv/tftp", "boot/x", "/srv/tftp/boot/x"},  // a folder set without its '/'
        {"", "boot/x", "boot/x"},                     // the working folder
        {"/", "x", "/x"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileInFolder(c.folder, c.relative), c.path) << c.folder;
}
