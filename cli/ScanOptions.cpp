#include "ScanOptions.h"

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "ClockTime.h"
#include "KnownMoments.h"
#include "OptionRules.h"
#include "OptionValues.h"
#include "ScanParsing.h"
#include "WatchedRegion.h"

ParsedOptions parseScanOptions(const std::vector<std::string>& given) {
    const std::vector<std::string> arguments = withOptionalValues(given);
    ParsedOptions parsed;
    const auto parser = makeScanParser(parsed.options);
    parsed.error = misplacedValue(*parser, arguments);
    if (!parsed.error.empty()) {
        return parsed;
    }
    // The parser takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        parser->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.options.help = true;
        return parsed;
    } catch (const CLI::CallForVersion&) {
        parsed.options.version = true;
        return parsed;
    } catch (const CLI::ParseError& error) {
        parsed.error = error.what();
        return parsed;
    }
    parsed.error = optionConflict(parsed.options, *parser);
    if (!parsed.error.empty()) {
        return parsed;
    }
    ScanOptions& options = parsed.options;
    if (!options.searchFolder.empty()) {
        // A search asks the objects detector's index, and lists what it finds.
        options.detector = pelmora::DetectorKind::Objects;
        options.events = true;
    }
    if (!options.minObjectText.empty()) {
        const pelmora::ObjectSettings size = *objectSize(options.minObjectText);
        options.objects.share = size.share;
        options.objects.pixels = size.pixels;
    }
    if (!options.timeZoneName.empty()) {
        std::string reason;
        options.start.zone = pelmora::TimeZone::named(options.timeZoneName, reason);
    } else {
        // Read once, so that a TZ naming nothing is said once, not at every video.
        options.start.zone = pelmora::TimeZone::machine(&parsed.warning);
    }
    if (!options.startTimeText.empty()) {
        options.start.given = pelmora::parseIsoTime(options.startTimeText);
    }
    // Read now, so that a mask that cannot be used stops the scan before any video opens.
    const std::string reason =
        parser->count("--mask") > 0
            ? pelmora::WatchedRegion::load(parsed.options.maskPath, parsed.options.watched)
            : std::string();
    if (!reason.empty()) {
        parsed.error = "cannot read the mask '" + parsed.options.maskPath + "': " + reason;
        return parsed;
    }
    // The polygons of the file first, then those given one by one, in the order given.
    pelmora::RegionShapes shapes;
    if (!options.regionFile.empty()) {
        const std::string why = pelmora::readRegionFile(options.regionFile, shapes);
        if (!why.empty()) {
            parsed.error = "cannot use the region file '" + options.regionFile + "': " + why;
            return parsed;
        }
    }
    for (const auto& [texts, keep] : {std::make_pair(&options.regionTexts, true),
                                      std::make_pair(&options.excludeTexts, false)}) {
        for (const std::string& text : *texts) {
            pelmora::RegionShape shape;
            shape.keep = keep;
            pelmora::parsePolygon(text, shape.points);  // the parser has checked it
            shapes.push_back(std::move(shape));
        }
    }
    options.watched.setShapes(std::move(shapes));
    // Read now too, so that a moments file that cannot be used writes nothing at all.
    if (!parsed.options.expectPath.empty()) {
        const pelmora::MomentsFile moments = pelmora::readMomentsFile(parsed.options.expectPath);
        if (!moments.error.empty()) {
            parsed.error =
                "cannot use the moments file '" + parsed.options.expectPath + "': " + moments.error;
            return parsed;
        }
        parsed.options.expected = moments.moments;
    }
    return parsed;
}
