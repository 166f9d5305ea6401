#include "OptionValues.h"

#include <algorithm>

// A check of an option's value: the problem it states, and the value as given, so that a typo is
// easy to spot. The empty description keeps the help's value names plain.
CLI::Validator valueCheck(std::function<bool(const std::string&)> accepts, std::string problem) {
    return CLI::Validator(
        [accepts = std::move(accepts), problem = std::move(problem)](std::string& text) {
            return accepts(text) ? std::string() : problem + ", not '" + text + "'";
        },
        std::string());
}

// Whole decimal numbers only, in the option's range: "20" but not "20x", "2.5", " 20", "-1" or
// "".
CLI::Validator wholeNumber(const pelmora::OptionEntry& entry) {
    const long long minimum = entry.minimum;
    const long long maximum = entry.maximum;
    return valueCheck(
        [minimum, maximum](const std::string& text) {
            const bool digits = !text.empty() && text.size() <= 9 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            return digits && std::stoll(text) >= minimum && std::stoll(text) <= maximum;
        },
        std::string(entry.name) + " must be a whole number from " +
            pelmora::optionValueText(entry, minimum) + " to " +
            pelmora::optionValueText(entry, maximum));
}

// "1.25" seconds as 1250 milliseconds, from whole digits with up to three decimals.
long long milliseconds(const std::string& text) {
    const std::string::size_type point = text.find('.');
    long long ms = std::stoll(text.substr(0, point)) * 1000;
    if (point != std::string::npos) {
        ms += std::stoll((text.substr(point + 1) + "00").substr(0, 3));
    }
    return ms;
}

// Seconds as whole or decimal digits, to the millisecond at most, in the option's range: "2",
// "0.5", "1.250", but not ".5", "5.", "1.2345", "-1" or "".
CLI::Validator seconds(const pelmora::OptionEntry& entry) {
    const long long minimumMs = entry.minimum;
    const long long maximumMs = entry.maximum;
    return valueCheck(
        [minimumMs, maximumMs](const std::string& text) {
            const std::string::size_type point = text.find('.');
            const std::string whole = text.substr(0, point);
            const std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
            const auto isDigits = [](const std::string& part, std::size_t longest) {
                return !part.empty() && part.size() <= longest &&
                       part.find_first_not_of("0123456789") == std::string::npos;
            };
            return isDigits(whole, 9) && isDigits(fraction, 3) && milliseconds(text) >= minimumMs &&
                   milliseconds(text) <= maximumMs;
        },
        std::string(entry.name) + " must be a number of seconds from " +
            pelmora::optionValueText(entry, minimumMs) + " to " +
            pelmora::optionValueText(entry, maximumMs) + ", to the millisecond at most");
}

// "N" as a whole number from minimum to maximum, as wholeNumber takes it; nothing for anything
// else.
std::optional<long long> wholeIn(const std::string& text, long long minimum, long long maximum) {
    const bool digits = !text.empty() && text.size() <= 9 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoll(text) < minimum || std::stoll(text) > maximum) {
        return std::nullopt;
    }
    return std::stoll(text);
}

// "T1:T2", thresholds of a run's range with T1 <= T2, as the first and last threshold.
std::optional<std::pair<int, int>> sweepRange(const std::string& text) {
    const pelmora::OptionEntry& threshold = pelmora::option::kThreshold;
    const std::string::size_type colon = text.find(':');
    if (colon == std::string::npos) {
        // One threshold alone: the sweep of its trigger sizes.
        const auto only = wholeIn(text, threshold.minimum, threshold.maximum);
        return only ? std::make_optional(
                          std::make_pair(static_cast<int>(*only), static_cast<int>(*only)))
                    : std::nullopt;
    }
    const auto first = wholeIn(text.substr(0, colon), threshold.minimum, threshold.maximum);
    const auto last = wholeIn(text.substr(colon + 1), threshold.minimum, threshold.maximum);
    if (!first || !last || *first > *last) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<int>(*first), static_cast<int>(*last));
}

// "0.05%": a share of the picture; "400": pixels. Nothing for anything else.
std::optional<pelmora::ObjectSettings> objectSize(const std::string& text) {
    pelmora::ObjectSettings size;
    if (!text.empty() && text.back() == '%') {
        const std::string number = text.substr(0, text.size() - 1);
        if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
            std::count(number.begin(), number.end(), '.') > 1 || number == ".") {
            return std::nullopt;
        }
        const double percent = std::stod(number);
        if (!(percent > 0.0 && percent <= 100.0)) {
            return std::nullopt;
        }
        size.share = percent / 100.0;
        return size;
    }
    const auto pixels = wholeIn(text, 1, 100000000);
    if (!pixels) {
        return std::nullopt;
    }
    size.pixels = *pixels;
    return size;
}

// "10,100,1000": trigger sizes in --min-pixels' range, at least one.
std::optional<std::vector<int>> triggerList(const std::string& text) {
    const pelmora::OptionEntry& trigger = pelmora::option::kMinPixels;
    std::vector<int> sizes;
    std::string::size_type at = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', at);
        const auto size = wholeIn(text.substr(at, comma - at), trigger.minimum, trigger.maximum);
        if (!size) {
            return std::nullopt;
        }
        sizes.push_back(static_cast<int>(*size));
        if (comma == std::string::npos) {
            return sizes;
        }
        at = comma + 1;
    }
}

// One of the option's choices, as what names them says: "the clock must be index or stream".
CLI::Validator oneOf(const pelmora::OptionEntry& entry, const std::string& what) {
    std::vector<std::string> choices;
    for (const char* choice : entry.choices) {
        if (choice != nullptr) {
            choices.emplace_back(choice);
        }
    }
    std::string words;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        words += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
    }
    return valueCheck(
        [choices](const std::string& text) {
            return std::find(choices.begin(), choices.end(), text) != choices.end();
        },
        what + " must be " + words);
}

CLI::Validator exportFormats() {
    return CLI::Validator(
        [](std::string& text) {
            std::string problem;
            return pelmora::parseExportFormats(text, problem)
                       ? std::string()
                       : "the export formats must be one or more of edl, otio, vtt and json with "
                         "',' between them: " +
                             problem;
        },
        std::string());
}

CLI::Validator polygonPoints() {
    return CLI::Validator(
        [](std::string& text) {
            std::vector<cv::Point> points;
            const std::string reason = pelmora::parsePolygon(text, points);
            return reason.empty() ? std::string() : "the polygon '" + text + "' is none: " + reason;
        },
        std::string());
}
