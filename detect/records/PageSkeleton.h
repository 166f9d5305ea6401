#pragma once

#include <kainjow/mustache.hpp>
#include <string>

#include "RunReport.h"

namespace pelmora {

// What a page's templates are filled with. Every {{name}} is escaped for HTML as it is
// written; {{{name}}} is for markup this program draws itself from numbers (the charts) and
// never holds a path, a name or any other text a user gave. The shared templates are partials
// named as their files ({{> facts.mustache}}), so that no value's name can hide one.
using PageData = kainjow::mustache::data;
using PageList = kainjow::mustache::list;

// The text, or false where it is empty, so that {{#name}}...{{/name}} leaves out what is not
// known (the engine counts an empty text as there).
PageData optionalText(const std::string& text);

// One fact of a row of facts (facts.mustache): a label over its value, the value red where it
// is bad, with where it came from after it, small, if given.
PageData pageFact(const std::string& label, const std::string& value, bool bad = false,
                  const std::string& source = std::string());

// A row of facts, for a list of {{#factGroups}}.
PageData factGroup(const PageList& facts);

// What banner.mustache says of a run that did not read its video through: stopped, with what
// was stopped ("run", "sweep") and what the page shows of it then, or failed, with why.
void addBanner(PageData& page, const RunReport& report, const std::string& what,
               const std::string& shows);

// The whole page: page.mustache around content, a template filled from page, with title as the
// page's title, style after the rules every page shares, and the program's version and madeAt
// (when the page was made; empty: not said) at its foot.
std::string renderPage(PageData& page, const std::string& title, const std::string& madeAt,
                       const char* content, const char* style);

}  // namespace pelmora
