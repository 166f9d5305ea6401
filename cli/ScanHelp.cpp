#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "ScanParsing.h"
#include "Version.h"

namespace {

// The help as a man page's synopsis would have it: the usage, what the program does, then each
// option with its value, its meaning and its default, wrapped to a terminal's width.
class ScanFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode) const override {
        std::string help =
            "Usage: " + name + " [OPTIONS] VIDEO...\n       " + name +
            " [OPTIONS] --segment K/N VIDEO\n       " + name + " [OPTIONS] --join DIR\n       " +
            name + " [OPTIONS] --sweep [T1:T2] VIDEO...\n       " + name +
            " [OPTIONS] --overview-from DIR\n" + app->get_description() + "\n\nOptions:\n";
        // Help and version last, after the options that change what a scan does.
        std::vector<const CLI::Option*> options;
        for (const CLI::Option* option : app->get_options()) {
            if (!option->get_positional() && option != app->get_help_ptr() &&
                option != app->get_version_ptr()) {
                options.push_back(option);
            }
        }
        options.push_back(app->get_help_ptr());
        options.push_back(app->get_version_ptr());
        for (const CLI::Option* option : options) {
            std::string names;
            for (const std::string& shortName : option->get_snames()) {
                names += "-" + shortName + ", ";
            }
            if (names.empty()) {
                names = "    ";
            }
            names += "--" + option->get_lnames().front();
            if (option->get_expected_max() != 0) {
                names += " " + option->get_type_name();
            }
            help += wrapped("  " + names, option->get_description());
        }
        return help + "\n" + app->get_footer() + "\n";
    }

private:
    static constexpr std::size_t kColumn = 24;
    static constexpr std::size_t kWidth = 80;

    // lead, then text from the column on, broken between words.
    static std::string wrapped(std::string lead, const std::string& text) {
        std::string out;
        std::string line = lead.size() < kColumn - 1
                               ? lead + std::string(kColumn - lead.size(), ' ')
                               : lead + "\n" + std::string(kColumn, ' ');
        std::size_t start = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
        std::size_t at = 0;
        bool first = true;
        while (at < text.size()) {
            std::size_t end = text.find(' ', at);
            end = end == std::string::npos ? text.size() : end;
            const std::string word = text.substr(at, end - at);
            if (!first && line.size() - start + 1 + word.size() > kWidth) {
                out += line + "\n";
                line = std::string(kColumn, ' ');
                start = 0;
                first = true;
            }
            line += (first ? "" : " ") + word;
            first = false;
            at = end + 1;
        }
        return out + line + "\n";
    }
};

}  // namespace

std::shared_ptr<CLI::Formatter> scanHelpFormatter() {
    return std::make_shared<ScanFormatter>();
}

std::string scanUsage() {
    ScanOptions options;
    return makeScanParser(options)->help();
}

std::string versionLine() {
    return std::string("pelmora-scan ") + pelmora::kVersion;
}

std::string versionText() {
    return versionLine() + "\n";
}
