// Name rewriting rules: what a table makes of a name (anchors, groups, case,
// order, the stop flag, loops, patterns that would run for ever), that the
// folder's confinement still holds for what a rule produces, the rules a
// table cannot use, and the lines of a rules file.
#include "common/name_rules.h"
#include "common/requested_name.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using tftp::NameRule;
using tftp::NameRewriter;

namespace {

constexpr char kRefused[] = "<refused>";

}  // namespace

TEST(NameRules, TablesRewriteNamesAndTheFolderStillConfinesTheResult) {
    const std::string hostile = std::string(40, 'a') + "!";
    struct Case {
        const char* what;
        std::vector<NameRule> rules;
        std::string requested;
        std::string served;    // kRefused: the rules refuse the request
        bool changed;
        std::string inFolder;  // what NameInFolder makes of it; kRefused: nothing
    };
    const std::vector<Case> cases = {
        {"no rules", {}, "pxelinux.0", "pxelinux.0", false, "pxelinux.0"},
        {"anchored prefix dropped", {{"^/tftpboot/", "", false}}, "/tftpboot/pxelinux.0", "pxelinux.0", true,
         "pxelinux.0"},
        {"anchor holds elsewhere", {{"^/tftpboot/", "", false}}, "boot/tftpboot/x", "boot/tftpboot/x", false,
         "boot/tftpboot/x"},
        {"only the match is replaced", {{"\\.bin$", ".img", false}}, "fw/a.bin", "fw/a.img", true, "fw/a.img"},
        {"end anchor", {{"\\.bin$", ".img", false}}, "a.bin.old", "a.bin.old", false, "a.bin.old"},
        {"groups reordered",
         {{"^01-([0-9a-f]{2})-([0-9a-f]{2})$", "mac/\\2/\\1", false}},
         "01-52-54", "mac/54/52", true, "mac/54/52"},
        {"whole match and a backslash", {{"^[a-z]+\\.cfg$", "cfg\\\\\\0", false}}, "menu.cfg", "cfg\\menu.cfg",
         true, "cfg/menu.cfg"},
        {"unset group is empty", {{"^(x)?(boot)$", "\\1\\2.img", false}}, "boot", "boot.img", true, "boot.img"},
        {"case ignored with (?i)", {{"(?i)^pxelinux\\.0$", "pxelinux.0", false}}, "PxeLinux.0", "pxelinux.0", true,
         "pxelinux.0"},
        {"case kept without it", {{"^PXELINUX\\.0$", "pxelinux.0", false}}, "pxelinux.0", "pxelinux.0", false,
         "pxelinux.0"},
        {"first matching rule wins, then the table again",
         {{"^b$", "c", false}, {"^a$", "b", false}, {"^a$", "z", false}},
         "a", "c", true, "c"},
        {"stop here ends it", {{"^b$", "c", false}, {"^a$", "b", true}}, "a", "b", true, "b"},
        {"a rule that keeps matching its own result", {{"^(.*)$", "x\\1", false}}, "boot", kRefused, false,
         "boot"},
        {"two rules that undo each other", {{"^a$", "b", false}, {"^b$", "a", false}}, "a", kRefused, false, "a"},
        {"a match that changes nothing is no rewrite", {{"(?i)^pxelinux", "pxelinux", false}}, "pxelinux.0",
         "pxelinux.0", false, "pxelinux.0"},
        {"the same rule with stop is applied once", {{"^(.*)$", "x\\1", true}}, "boot", "xboot", true, "xboot"},
        {"a name that only grows", {{"^(.*)$", "\\1\\1\\1\\1", false}}, "ab", kRefused, false, "ab"},
        {"a pattern that backtracks for ever", {{"^(a|aa|a?)+$", "x", false}}, hostile, kRefused, false, hostile},
        {"a rule that climbs out of the folder", {{"^(.*)$", "../\\1", true}}, "passwd", "../passwd", true,
         kRefused},
        {"a climb in a group", {{"^x-(.*)$", "a/\\1", true}}, "x-../../etc/passwd", "a/../../etc/passwd", true,
         kRefused},
        {"an absolute result stays below the folder", {{"^secret$", "/etc/shadow", true}}, "secret", "/etc/shadow",
         true, "etc/shadow"},
        {"a bad rule is left out, the others kept", {{"(", "x", false}, {"^a$", "b", false}}, "a", "b", true, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const NameRewriter rewriter(c.rules);
        const auto started = std::chrono::steady_clock::now();
        const tftp::RewrittenName result = rewriter.Rewrite(c.requested);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(1));
        if (std::string(c.served) == kRefused) {
            EXPECT_TRUE(result.refused);
            EXPECT_EQ(result.name, c.requested) << "a refused name is shown as it was asked";
        } else {
            EXPECT_FALSE(result.refused);
            EXPECT_EQ(result.name, c.served);
        }
        EXPECT_EQ(result.changed, c.changed);
        const std::optional<std::string> relative = tftp::NameInFolder(result.name);
        EXPECT_EQ(relative.value_or(kRefused), c.inFolder);
    }
}

TEST(NameRules, UnusableRulesAreRefusedWithTheReasonAndWhere) {
    struct Case {
        NameRule rule;
        std::string message;  // a part of it; empty: the rule is fine
        std::size_t offset;
    };
    const Case cases[] = {
        {{"^(a)(b)$", "\\2\\1", false}, "", 0},
        {{"(", "", false}, "missing closing parenthesis", 1},
        {{"a[b", "", false}, "missing terminating ] for character class", 3},
        {{"^(a)$", "x\\2", false}, "replacement refers to group 2 but the pattern has 1", 1},
        {{"^a$", "b\\", false}, "replacement ends with a lone backslash", 1},
    };
    std::vector<NameRule> table;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule.pattern + " -> " + c.rule.replacement);
        table.push_back(c.rule);
        const std::optional<tftp::RuleError> error = tftp::CheckRule(c.rule);
        if (c.message.empty()) {
            EXPECT_FALSE(error.has_value());
            continue;
        }
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->message.find(c.message), std::string::npos) << error->message;
        EXPECT_EQ(error->offset, c.offset);
        EXPECT_EQ(error->Text(), error->message + " at offset " + std::to_string(c.offset));
    }
    const NameRewriter rewriter(table);
    ASSERT_EQ(rewriter.Errors().size(), 4u);
    EXPECT_EQ(rewriter.Errors()[0].first, 1u);
    EXPECT_EQ(rewriter.Errors()[3].first, 4u);
    EXPECT_EQ(rewriter.Rewrite("ab").name, "ba");
}

TEST(NameRules, RulesFileLines) {
    struct Case {
        std::string text;
        std::vector<NameRule> rules;
        std::string why;  // empty: read
    };
    const std::vector<Case> cases = {
        {"", {}, ""},
        {"# comment\n\n  \t\n", {}, ""},
        {"^/tftpboot/\t\n(?i)^(.*)\\.BIN$\t\\1.bin\tstop\r\n",
         {{"^/tftpboot/", "", false}, {"(?i)^(.*)\\.BIN$", "\\1.bin", true}}, ""},
        {"^a$\tb", {{"^a$", "b", false}}, ""},
        {"ok\tfine\n^a$ b\n", {}, "line 2: no tab between the pattern and the replacement"},
        {"^a$\tb\tnow\n", {}, "line 1: the third field can only be \"stop\""},
        {"\tb\n", {}, "line 1: the pattern is empty"},
        {"# one\n(\tx\n", {}, "line 2: missing closing parenthesis at offset 1"},
        {"^a$\t\\1\n", {}, "line 1: replacement refers to group 1 but the pattern has 0 at offset 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<NameRule> rules{{"kept", "", false}};
        std::string why;
        const bool read = tftp::ParseRules(c.text, rules, why);
        EXPECT_EQ(read, c.why.empty());
        EXPECT_EQ(why, c.why);
        if (read) EXPECT_EQ(rules, c.rules);
        else EXPECT_EQ(rules.size(), 1u) << "a file with a bad line sets no rules";
    }
}
