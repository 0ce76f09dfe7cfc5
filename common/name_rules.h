// Name rewriting rules: an ordered table the administrator keeps so that the
// names firmware asks for ("/tftpboot/PXELINUX.0", "C:\boot\x", per-vendor
// names) find the files of the tree. Each rule is a regular expression
// (PCRE2 syntax; "(?i)" at its start ignores case), a replacement and a
// "stop here" flag.
//
// How a name is rewritten: the rules are tried in order; the first whose
// pattern matches has its match (only the matched part; anchor with ^ and $
// to take the whole name) replaced. "\1" to "\9" in the replacement stand for
// the pattern's groups, "\0" for the whole match and "\\" for a backslash.
// A rule with "stop here" ends the rewriting; otherwise the table is tried
// again from its first rule on the new name. A match that leaves the name
// as it was counts as no match. A name is rewritten at most
// kMaxNameRewrites times: a table that keeps on rewriting it, like a pattern
// that runs past its match limit, refuses the request.
//
// The result is a name as a client could have sent it: the folder's own
// confinement (NameInFolder) still applies to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tftp {

inline constexpr int kMaxNameRewrites = 16;
// The work one match may take (PCRE2's match and depth limits): far above
// what any sensible pattern needs on a name of at most 512 bytes, far below
// what a pattern that backtracks without end would use.
inline constexpr std::uint32_t kNameMatchLimit = 100000;
inline constexpr std::uint32_t kNameDepthLimit = 1000;

struct NameRule {
    std::string pattern;
    std::string replacement;
    bool stop = false;
    bool operator==(const NameRule&) const = default;
};

// Why a rule cannot be used: PCRE2's message and the offset in the pattern
// where it stopped, or a replacement that names a group the pattern lacks.
struct RuleError {
    std::string message;
    std::size_t offset = 0;
    // "missing closing parenthesis at offset 4"
    std::string Text() const;
};

// Nothing when the rule can be used.
std::optional<RuleError> CheckRule(const NameRule& rule);

struct RewrittenName {
    std::string name;      // the name to serve (the name asked for when refused)
    bool changed = false;  // a rule rewrote it
    bool refused = false;  // the rules could not finish: serve nothing
};

// The rules compiled once, for every request until the table changes. One
// thread at a time: each rule keeps its own match data.
class NameRewriter {
public:
    NameRewriter();
    // Rules that cannot be used are left out (see Errors).
    explicit NameRewriter(const std::vector<NameRule>& rules);
    ~NameRewriter();
    NameRewriter(NameRewriter&&) noexcept;
    NameRewriter& operator=(NameRewriter&&) noexcept;

    RewrittenName Rewrite(std::string_view requested) const;
    bool Empty() const;
    // Each rule left out: its index in the table and why.
    const std::vector<std::pair<std::size_t, RuleError>>& Errors() const { return errors_; }

private:
    struct Compiled;
    std::vector<std::unique_ptr<Compiled>> rules_;
    std::vector<std::pair<std::size_t, RuleError>> errors_;
};

// The rules of a rules file, one a line: "pattern<TAB>replacement" or
// "pattern<TAB>replacement<TAB>stop" (a carriage return at a line's end is
// dropped). Blank lines and lines starting with '#' hold no rule. False, with
// why naming the line ("line 3: ..."), when a line is not of that form or
// its rule cannot be used.
bool ParseRules(std::string_view text, std::vector<NameRule>& rules, std::string& why);

}  // namespace tftp
