#pragma once

namespace pelmora {

// The imaging library reports every backend it tries and fails on the standard error stream,
// and its video decoder complains there about every damaged frame, which buries the program's
// own lines; the program reports those failures itself. Call before any video is opened.
void silenceLibraryDiagnostics();

}  // namespace pelmora
