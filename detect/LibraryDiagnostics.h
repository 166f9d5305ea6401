#pragma once

namespace pelmora {

// The imaging library reports every backend it tries and fails on the standard error stream,
// which buries the program's own lines; the program reports those failures itself.
void silenceLibraryDiagnostics();

}  // namespace pelmora
