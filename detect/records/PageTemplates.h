#pragma once

namespace pelmora {

// The templates and styles of the pages, the files of detect/records/pages compiled in at build
// time (cmake/EmbedTexts.cmake), so that a page is made without a file to read beside the
// program. Every page is page.mustache: head.mustache with page.css and the page's own style,
// the page's own content, and footer.mustache; the contents share facts.mustache and
// banner.mustache, and the overview draws each chart with lanes.mustache.
extern const char kPageTemplate[];
extern const char kHeadTemplate[];
extern const char kFactsTemplate[];
extern const char kBannerTemplate[];
extern const char kFooterTemplate[];
extern const char kReportTemplate[];
extern const char kOverviewTemplate[];
extern const char kLanesTemplate[];
extern const char kSweepTemplate[];
extern const char kPageStyle[];
extern const char kReportStyle[];
extern const char kOverviewStyle[];
extern const char kSweepStyle[];

}  // namespace pelmora
