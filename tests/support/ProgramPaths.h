#pragma once

// The programs of the build the tests run in, by their paths there.
namespace testsupport {
extern const char* const kScanProgram;    // pelmora-scan
extern const char* const kWindowProgram;  // pelmora, the window
}  // namespace testsupport
