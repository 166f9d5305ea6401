#include "HtmlText.h"

namespace pelmora {

std::string escapeHtml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string relativeLink(const std::string& fileName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string link;
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~';
        if (plain) {
            link += c;
        } else {
            link += '%';
            link += kHex[byte >> 4];
            link += kHex[byte & 15];
        }
    }
    return link;
}

}  // namespace pelmora
