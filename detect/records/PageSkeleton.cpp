#include "PageSkeleton.h"

#include <stdexcept>

#include "HtmlText.h"
#include "PageTemplates.h"
#include "TextFormat.h"
#include "Version.h"

namespace pelmora {

namespace {

// A template file ends with a newline, as a text file does; the line with its {{> tag}} gives
// it one where it is used.
std::string partial(const char* text) {
    std::string body(text);
    if (!body.empty() && body.back() == '\n') {
        body.pop_back();
    }
    return body;
}

}  // namespace

PageData optionalText(const std::string& text) {
    return text.empty() ? PageData(false) : PageData(text);
}

PageData pageFact(const std::string& label, const std::string& value, bool bad,
                  const std::string& source) {
    PageData fact;
    fact["label"] = label;
    fact["value"] = value;
    fact["bad"] = bad;
    fact["source"] = optionalText(source);
    return fact;
}

PageData factGroup(const PageList& facts) {
    PageData group;
    group["facts"] = PageData(facts);
    return group;
}

void addBanner(PageData& page, const RunReport& report, const std::string& what,
               const std::string& shows) {
    page["stopped"] = false;
    page["failed"] = false;
    if (report.status == RunReport::Status::Stopped) {
        PageData stopped;
        stopped["what"] = what;
        stopped["shows"] = shows;
        stopped["frames"] = groupedNumber(report.framesRead);
        page["stopped"] = std::move(stopped);
    } else if (report.status == RunReport::Status::Failed) {
        PageData failed;
        failed["failure"] = report.failure;
        failed["frames"] = groupedNumber(report.framesRead);
        page["failed"] = std::move(failed);
    }
}

std::string renderPage(PageData& page, const std::string& title, const std::string& madeAt,
                       const char* content, const char* style) {
    page["title"] = title;
    page["version"] = std::string(kVersion);
    page["madeAt"] = optionalText(madeAt);
    page["head.mustache"] = partial(kHeadTemplate);
    page["page.css"] = partial(kPageStyle);
    page["style"] = partial(style);
    page["facts.mustache"] = partial(kFactsTemplate);
    page["banner.mustache"] = partial(kBannerTemplate);
    page["lanes.mustache"] = partial(kLanesTemplate);
    page["content"] = partial(content);
    page["footer.mustache"] = partial(kFooterTemplate);
    kainjow::mustache::mustache skeleton(kPageTemplate);
    // The engine's own escaping writes ' as &apos;; the user guide's and the pages' one rule is
    // escapeHtml, which the engine then applies to every {{value}} of every partial too.
    skeleton.set_custom_escape(escapeHtml);
    const std::string html = skeleton.render(page);
    // The templates are compiled in: one the engine cannot read is a fault of this build.
    if (!skeleton.is_valid()) {
        throw std::logic_error("a page's template: " + skeleton.error_message());
    }
    return html;
}

}  // namespace pelmora
