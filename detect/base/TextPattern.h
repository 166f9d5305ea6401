#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelmora {

// What a pattern matched: the whole match first, then each group; a group that took no part in
// the match is empty and not matched.
class PatternMatch {
public:
    explicit PatternMatch(std::vector<std::optional<std::string>> groups)
        : groups(std::move(groups)) {}

    bool matched(std::size_t group) const {
        return group < groups.size() && groups[group].has_value();
    }
    const std::string& operator[](std::size_t group) const {
        static const std::string none;
        return matched(group) ? *groups[group] : none;
    }
    // The group's digits as a number; 0 for a group that did not match.
    int number(std::size_t group) const;

private:
    std::vector<std::optional<std::string>> groups;
};

// A regular expression in the standard library's default (ECMAScript) grammar. Its engine takes
// seconds to compile into each file that uses it, several times that under the sanitizers; here
// only this class's own file pays.
class TextPattern {
public:
    explicit TextPattern(const std::string& pattern);
    ~TextPattern();
    TextPattern(TextPattern&&) noexcept;
    TextPattern& operator=(TextPattern&&) noexcept;

    // A match of the whole text.
    std::optional<PatternMatch> match(const std::string& text) const;
    // The first match anywhere in the text.
    std::optional<PatternMatch> search(const std::string& text) const;
    // Every match in the text, in order, none overlapping.
    std::vector<PatternMatch> matchesIn(const std::string& text) const;
    // The text with every match replaced by format, where $& is the match and $1 a group.
    std::string replaced(const std::string& text, const std::string& format) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled;
};

}  // namespace pelmora
