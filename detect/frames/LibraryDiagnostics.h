#pragma once

namespace pelmora {

// The video decoder complains on the standard error stream about every damaged frame, which
// buries the program's own lines; the program reports those failures itself. Call before any
// video is opened: shown keeps the decoder's errors (and nothing below them) for a user who
// asked to see them.
void setLibraryDiagnostics(bool shown);

}  // namespace pelmora
