#include "TextPattern.h"

#include <regex>

namespace pelmora {

namespace {

PatternMatch groupsOf(const std::smatch& found) {
    std::vector<std::optional<std::string>> groups;
    groups.reserve(found.size());
    for (const std::ssub_match& group : found) {
        groups.push_back(group.matched ? std::optional<std::string>(group.str()) : std::nullopt);
    }
    return PatternMatch(std::move(groups));
}

}  // namespace

int PatternMatch::number(std::size_t group) const {
    return matched(group) ? std::stoi(*groups[group]) : 0;
}

struct TextPattern::Compiled {
    std::regex expression;
};

TextPattern::TextPattern(const std::string& pattern)
    : compiled(std::make_unique<Compiled>(Compiled{std::regex(pattern)})) {}

TextPattern::~TextPattern() = default;
TextPattern::TextPattern(TextPattern&&) noexcept = default;
TextPattern& TextPattern::operator=(TextPattern&&) noexcept = default;

std::optional<PatternMatch> TextPattern::match(const std::string& text) const {
    std::smatch found;
    if (!std::regex_match(text, found, compiled->expression)) {
        return std::nullopt;
    }
    return groupsOf(found);
}

std::optional<PatternMatch> TextPattern::search(const std::string& text) const {
    std::smatch found;
    if (!std::regex_search(text, found, compiled->expression)) {
        return std::nullopt;
    }
    return groupsOf(found);
}

std::vector<PatternMatch> TextPattern::matchesIn(const std::string& text) const {
    std::vector<PatternMatch> matches;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), compiled->expression);
         it != std::sregex_iterator(); ++it) {
        matches.push_back(groupsOf(*it));
    }
    return matches;
}

std::string TextPattern::replaced(const std::string& text, const std::string& format) const {
    return std::regex_replace(text, compiled->expression, format);
}

}  // namespace pelmora
