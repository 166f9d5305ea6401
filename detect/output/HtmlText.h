#pragma once

#include <string>

namespace pelmora {

// Text as it must stand in an HTML page, in an element or in a quoted attribute, so that no
// path or name can open a tag or end an attribute: & < > " and ' become references. For the
// user guide; the pages' templates escape every value they are given themselves.
std::string escapeHtml(const std::string& text);

// A file name as a relative link: every byte but letters, digits and - . _ ~ as %XX, so that
// spaces, '#', '?' or ':' cannot turn it into something else. Escape the result for HTML too,
// as a page's template does.
std::string relativeLink(const std::string& fileName);

}  // namespace pelmora
