// Makes the user guide the programs show from its source: the line that stands for
// pelmora-scan's options becomes the table of them, with the names, help, ranges and defaults of
// the table of options that the program's parser and --help are made from.
//
//   pelmora-make-guide SOURCE.html GUIDE.html

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "HtmlText.h"
#include "OptionTable.h"

namespace {

constexpr const char* kMarker = "<!-- pelmora-scan's options -->";

// "-t, --threshold N" as "<code>-t</code>, <code>--threshold N</code>".
std::string namesCell(const pelmora::OptionEntry& entry) {
    const std::string names = pelmora::optionNames(entry);
    std::string cell;
    std::string::size_type at = 0;
    while (true) {
        const std::string::size_type comma = names.find(", ", at);
        cell += "<code>" + pelmora::escapeHtml(names.substr(at, comma - at)) + "</code>";
        if (comma == std::string::npos) {
            return cell;
        }
        cell += ", ";
        at = comma + 2;
    }
}

std::string optionTable() {
    std::string table =
        "<table id=\"scan-options\">\n"
        "  <tr><th>Option</th><th>Effect</th></tr>\n";
    for (const pelmora::OptionEntry* entry : pelmora::scanOptionTable()) {
        table += "  <tr><td class=\"opt\">" + namesCell(*entry) + "</td><td>" +
                 pelmora::escapeHtml(pelmora::optionHelp(*entry)) + "</td></tr>\n";
    }
    return table + "</table>\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelmora-make-guide SOURCE.html GUIDE.html\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream source;
    source << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "pelmora-make-guide: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string guide = source.str();
    const std::string marker = std::string(kMarker) + "\n";
    const std::string::size_type at = guide.find(marker);
    if (at == std::string::npos || guide.find(marker, at + 1) != std::string::npos) {
        std::fprintf(stderr, "pelmora-make-guide: %s must hold the line %s once\n", argv[1],
                     kMarker);
        return 1;
    }
    guide.replace(at, marker.size(), optionTable());
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << guide;
    out.close();
    if (!out) {
        std::fprintf(stderr, "pelmora-make-guide: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
