#pragma once

namespace pelmora {

// The look every page Pelmora writes shares: its body and headings, the video's path and the
// row of facts. It opens the page's style element; each page adds its own rules and closes it.
extern const char* const kPageStyle;

}  // namespace pelmora
