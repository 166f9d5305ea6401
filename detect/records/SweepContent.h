#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "KnownMoments.h"
#include "RunObserver.h"
#include "RunReport.h"
#include "SweepTally.h"

namespace pelmora {

// Everything the page of one sweep shows.
struct SweepPageContent {
    RunFacts facts;
    RunReport report;
    long long eventGapMs = 0;
    std::vector<SweepRow> rows;
    std::vector<KnownMoment> moments;
    std::size_t mostReferences = 0;
    std::string madeAt;  // when the page was made, as people read it; empty: not said
};

}  // namespace pelmora
