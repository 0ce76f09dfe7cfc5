#include "name_rules.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

namespace tftp {
namespace {

// A rewritten name longer than this is refused: a replacement that repeats
// its match ("\0\0") would otherwise double the name at each rewrite.
constexpr std::size_t kMaxRewrittenName = 1024;

PCRE2_SPTR Units(std::string_view text) { return reinterpret_cast<PCRE2_SPTR>(text.data()); }

std::string ErrorMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (n < 0) return "error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

// The highest group the replacement refers to (-1: none); false when a
// backslash ends it.
bool HighestGroup(std::string_view replacement, int& highest, std::size_t& offset) {
    highest = -1;
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        if (replacement[i] != '\\') continue;
        if (i + 1 == replacement.size()) {
            offset = i;
            return false;
        }
        const char next = replacement[++i];
        if (next >= '0' && next <= '9') highest = std::max(highest, next - '0');
    }
    return true;
}

}  // namespace

std::string RuleError::Text() const { return message + " at offset " + std::to_string(offset); }

struct NameRewriter::Compiled {
    pcre2_code* code = nullptr;
    pcre2_match_data* match = nullptr;
    std::string replacement;
    bool stop = false;
    ~Compiled() {
        pcre2_match_data_free(match);
        pcre2_code_free(code);
    }
};

namespace {

// Compiles the rule's pattern and checks its replacement against it.
pcre2_code* Compile(const NameRule& rule, RuleError& error) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* compiled = pcre2_compile(Units(rule.pattern), rule.pattern.size(), PCRE2_NEVER_BACKSLASH_C, &code,
                                         &offset, nullptr);
    if (!compiled) {
        error = RuleError{ErrorMessage(code), static_cast<std::size_t>(offset)};
        return nullptr;
    }
    std::uint32_t groups = 0;
    pcre2_pattern_info(compiled, PCRE2_INFO_CAPTURECOUNT, &groups);
    int highest = -1;
    std::size_t at = 0;
    if (!HighestGroup(rule.replacement, highest, at)) {
        error = RuleError{"replacement ends with a lone backslash", at};
    } else if (highest > static_cast<int>(groups)) {
        error = RuleError{"replacement refers to group " + std::to_string(highest) + " but the pattern has " +
                              std::to_string(groups),
                          rule.replacement.find("\\" + std::to_string(highest))};
    } else {
        return compiled;
    }
    pcre2_code_free(compiled);
    return nullptr;
}

// The one match context every rule matches with: the limits that end a
// pattern that would backtrack without end.
pcre2_match_context* LimitedContext() {
    static pcre2_match_context* const context = [] {
        pcre2_match_context* c = pcre2_match_context_create(nullptr);
        pcre2_set_match_limit(c, kNameMatchLimit);
        pcre2_set_depth_limit(c, kNameDepthLimit);
        return c;
    }();
    return context;
}

}  // namespace

std::optional<RuleError> CheckRule(const NameRule& rule) {
    RuleError error;
    pcre2_code* compiled = Compile(rule, error);
    if (!compiled) return error;
    pcre2_code_free(compiled);
    return std::nullopt;
}

NameRewriter::NameRewriter() = default;
NameRewriter::~NameRewriter() = default;
NameRewriter::NameRewriter(NameRewriter&&) noexcept = default;
NameRewriter& NameRewriter::operator=(NameRewriter&&) noexcept = default;

NameRewriter::NameRewriter(const std::vector<NameRule>& rules) {
    for (std::size_t i = 0; i < rules.size(); ++i) {
        RuleError error;
        pcre2_code* code = Compile(rules[i], error);
        if (!code) {
            errors_.emplace_back(i, error);
            continue;
        }
        auto compiled = std::make_unique<Compiled>();
        compiled->code = code;
        compiled->match = pcre2_match_data_create_from_pattern(code, nullptr);
        compiled->replacement = rules[i].replacement;
        compiled->stop = rules[i].stop;
        if (!compiled->match) {
            errors_.emplace_back(i, RuleError{"no memory", 0});
            continue;
        }
        rules_.push_back(std::move(compiled));
    }
}

bool NameRewriter::Empty() const { return rules_.empty(); }

RewrittenName NameRewriter::Rewrite(std::string_view requested) const {
    const RewrittenName refused{std::string(requested), false, true};
    std::string name(requested);
    int rewrites = 0;
    bool again = true;
    while (again) {
        again = false;
        for (const auto& rule : rules_) {
            const int rc = pcre2_match(rule->code, Units(name), name.size(), 0, 0, rule->match, LimitedContext());
            if (rc == PCRE2_ERROR_NOMATCH) continue;
            if (rc <= 0) return refused;  // a limit reached, or no room for the groups
            const PCRE2_SIZE* groups = pcre2_get_ovector_pointer(rule->match);
            if (groups[0] > groups[1] || groups[1] > name.size()) return refused;  // \K past the end
            std::string out = name.substr(0, groups[0]);
            const std::string& with = rule->replacement;
            for (std::size_t i = 0; i < with.size(); ++i) {
                if (with[i] != '\\' || i + 1 == with.size()) {
                    out += with[i];
                    continue;
                }
                const char next = with[++i];
                if (next < '0' || next > '9') {
                    out += next;
                    continue;
                }
                const auto group = static_cast<std::size_t>(next - '0');
                if (static_cast<int>(group) < rc && groups[2 * group] != PCRE2_UNSET)
                    out.append(name, groups[2 * group], groups[2 * group + 1] - groups[2 * group]);
                if (out.size() > kMaxRewrittenName) return refused;
            }
            out.append(name, groups[1]);
            if (out.size() > kMaxRewrittenName) return refused;
            if (out == name) continue;  // nothing changed: not a rewrite
            if (++rewrites > kMaxNameRewrites) return refused;
            name = std::move(out);
            if (rule->stop) return RewrittenName{name, true, false};
            again = true;
            break;
        }
    }
    return RewrittenName{name, rewrites > 0, false};
}

bool ParseRules(std::string_view text, std::vector<NameRule>& rules, std::string& why) {
    std::vector<NameRule> read;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            why = where + "no tab between the pattern and the replacement";
            return false;
        }
        NameRule rule;
        rule.pattern = std::string(line.substr(0, tab));
        std::string_view rest = line.substr(tab + 1);
        const std::size_t second = rest.find('\t');
        if (second != std::string_view::npos) {
            if (rest.substr(second + 1) != "stop") {
                why = where + "the third field can only be \"stop\"";
                return false;
            }
            rule.stop = true;
            rest = rest.substr(0, second);
        }
        rule.replacement = std::string(rest);
        if (rule.pattern.empty()) {
            why = where + "the pattern is empty";
            return false;
        }
        if (const std::optional<RuleError> error = CheckRule(rule)) {
            why = where + error->Text();
            return false;
        }
        read.push_back(std::move(rule));
    }
    rules = std::move(read);
    return true;
}

}  // namespace tftp
