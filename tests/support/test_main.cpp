#include <gtest/gtest.h>

#include "LibraryDiagnostics.h"
#include "TestSupport.h"

int main(int argc, char** argv) {
    // As in the programs: the tests read the standard error stream line by line.
    testsupport::tellCrashes();
    pelmora::setLibraryDiagnostics(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
