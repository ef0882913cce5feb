// arrayhost: a stand-in for the host program. Loads a plug-in, drives it
// through its exports as the host does for one scenario, and reports what it
// answers: descriptors, cell poses, the levels at a seat, coverage maps of an
// audience plane and a side view of the array.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/arrayhost/coverage.h"
#include "tools/arrayhost/design.h"
#include "tools/arrayhost/design_output.h"
#include "tools/arrayhost/progress.h"
#include "tools/arrayhost/plots.h"
#include "tools/arrayhost/report.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace {

using namespace arrayhost;

// Exit codes.
constexpr int kBadInput = 1, kPluginFailed = 2, kOutputFailed = 3;

constexpr const char* kUsage =
    "usage: arrayhost [SCENARIO] [--plugin NAME|PATH] [--out DIR] [--no-images] [--quiet]\n"
    "       arrayhost --design [SCENARIO] [--slope 0|-1.5|-3] [--bands LOW HIGH] [--tilt MIN MAX]\n"
    "                 [--free-order] [--each-band] [--plugin NAME|PATH] [--out DIR] [--no-images]\n"
    "                 [--quiet]\n"
    "       arrayhost --default-scenario\n"
    "Runs SCENARIO (a text file; without one, the built-in default) through a plug-in\n"
    "the way the host program does, prints a report and writes maps, a side view,\n"
    "a CSV of the map and the report into DIR (default: arrayhost-output).\n"
    "  --plugin NAME|PATH  ktr2, ktr4 or qspan beside this program, or a library path;\n"
    "                      overrides the scenario's `plugin`\n"
    "  --no-images         report only\n"
    "  --quiet             no progress bar\n"
    "  --design            choose splays (and kinds) for an even level along the\n"
    "                      scenario's audience_line; writes arrayhost-design.txt,\n"
    "                      its setup blob and a plot of level against distance\n"
    "  --slope DB          the design's target level change per doubling of distance\n"
    "  --bands LOW HIGH    the bands the design weighs, in Hz (default 500 8000)\n"
    "  --tilt MIN MAX      let the design choose the array's tilt (its second angle,\n"
    "                      degrees, negative down) in 0.5 degree steps within MIN..MAX\n"
    "  --free-order        splays and kinds in any order down the array (by default\n"
    "                      the splays never shrink, save at one joint where the line\n"
    "                      has a gap, and kinds run from the narrowest to the widest)\n"
    "  --each-band         also design for each band alone and report the spread it\n"
    "                      reaches by itself: what these balloons allow at best\n"
    "  --default-scenario  print the built-in scenario and stop\n";

struct Options {
    std::string scenarioPath, plugin, outDir = "arrayhost-output";
    bool images = true, progress = true, design = false;
    double slopeDbPerDoubling = 0;
    int firstBand = kDesignFirstBand, lastBand = kDesignLastBand;
    std::optional<std::pair<double, double>> tiltRangeDeg;
    bool eachBand = false, freeOrder = false;
};

std::string fileLabel(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c != ' ') out += c;
    }
    return out;
}

std::string stemOf(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

class Output {
public:
    Output(std::string dir) : dir_(std::move(dir)) {}
    // A forward slash serves both systems and keeps the printed paths alike.
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    bool png(const Canvas& canvas, const std::string& name) {
        std::string error;
        if (!canvas.writePng(path(name), error)) return fail(error);
        written_ += "  " + path(name) + "\n";
        return true;
    }
    bool text(const std::string& content, const std::string& name) {
        std::FILE* f = std::fopen(path(name).c_str(), "wb");
        if (f == nullptr || std::fwrite(content.data(), 1, content.size(), f) != content.size() ||
            std::fclose(f) != 0) {
            return fail("cannot write " + path(name));
        }
        return true;
    }
    bool fail(const std::string& error) {
        std::fprintf(stderr, "arrayhost: %s\n", error.c_str());
        ok_ = false;
        return false;
    }
    const std::string& written() const { return written_; }
    bool ok() const { return ok_; }

private:
    std::string dir_, written_;
    bool ok_ = true;
};

int runDesign(const Options& options, Scenario scenario) {
    if (!scenario.audienceLine) {
        std::fprintf(stderr, "arrayhost: %saudience_line: missing: --design needs an audience line\n",
                     scenario.where("audience_line").c_str());
        return kBadInput;
    }
    std::string error;
    auto session = Session::open(scenario.plugin, error);
    if (!session) {
        std::fprintf(stderr, "arrayhost: %s\n", error.c_str());
        return kPluginFailed;
    }
    // The product is told by the plug-in's own name, not by its file's:
    // --plugin ./ktr4.dll is ktr4 as much as --plugin ktr4 is.
    const std::string name = session->describe().name;
    const models::ModelDefinition* model = modelOfProductName(name);
    if (model == nullptr) {
        std::fprintf(stderr, "arrayhost: --design knows the dialog rules of %s only; %s names itself '%s'\n",
                     host::productNames(", ").c_str(), scenario.plugin.c_str(), name.c_str());
        return kBadInput;
    }
    if (!session->setUp(scenario, error)) {
        std::fprintf(stderr, "arrayhost: %s\n", error.c_str());
        return kBadInput;
    }
    DesignOptions designOptions;
    designOptions.slopeDbPerDoubling = options.slopeDbPerDoubling;
    designOptions.firstBand = options.firstBand;
    designOptions.lastBand = options.lastBand;
    designOptions.tiltRangeDeg = options.tiltRangeDeg;
    designOptions.freeOrder = options.freeOrder;
    designOptions.showProgress = options.progress;
    Designer designer(*session, scenario, *model, designOptions);
    if (!designer.fault().empty()) {
        std::fprintf(stderr, "arrayhost: %s%s\n", scenario.where(designer.faultKey()).c_str(), designer.fault().c_str());
        return kBadInput;
    }
    const DesignResult result = designer.run();
    // How each row's figures hold on a denser grid and with the scene moved.
    std::vector<Robustness> robustness;
    for (const auto& [choice, evenness] :
         {std::pair{&result.scenario, &result.scenarioEvenness}, std::pair{&result.uniform, &result.uniformEvenness},
          std::pair{&result.palc, &result.palcEvenness}, std::pair{&result.chosen, &result.chosenEvenness}}) {
        robustness.push_back(checkRobustness(*session, scenario, designOptions, *choice, *evenness));
    }
    // The checks leave the instance holding their last trial; it holds the
    // chosen array again, as the design left it.
    session->applyCells(result.chosen.splaysDeg, result.chosen.kinds);
    session->aimArray({scenario.arrayAnglesDeg.x, result.chosen.tiltDeg, scenario.arrayAnglesDeg.z});
    std::string report = "arrayhost --design: " + scenario.source + "\n\n" +
                         formatDesign(result, designOptions, scenario, robustness);
    if (options.eachBand) report += eachBandReport(*session, scenario, *model, designOptions, result);
    std::fputs(report.c_str(), stdout);

    std::string text = defaultScenarioText();
    if (!options.scenarioPath.empty()) {
        std::ifstream in(options.scenarioPath, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    const std::vector<uint8_t> blob =
        makeSetupBlob(session->blobFormat(), result.chosen.splaysDeg, result.chosen.kinds);
    std::error_code fsError;
    std::filesystem::create_directories(options.outDir, fsError);
    Output out(options.outDir);
    if (fsError) return out.fail("cannot create " + options.outDir + ": " + fsError.message()), kOutputFailed;
    out.text(designedScenarioText(text, scenario, result.chosen, blob,
                                  options.tiltRangeDeg.has_value() || scenario.topAngleDeg.has_value()),
             "arrayhost-design.txt");
    if (out.ok()) out.text(std::string(blob.begin(), blob.end()), "arrayhost-design-blob.bin");
    if (out.ok()) out.text(report, "arrayhost-design-report.txt");
    if (out.ok() && options.images) {
        out.png(drawLevelAgainstDistance(profileCurves(result, designOptions),
                                         scenario.plugin + ": level along the audience line",
                                         "dB(A) and dB; dashed: PALC2; shaded: chosen, perturbed; grey: target, " +
                                             slopeText(options.slopeDbPerDoubling) + " dB/doubling"),
                "arrayhost-design-profile.png");
    }
    if (!out.ok()) return kOutputFailed;
    std::printf("Written:\n  %s\n  %s\n  %s\n%s", out.path("arrayhost-design.txt").c_str(),
                out.path("arrayhost-design-blob.bin").c_str(), out.path("arrayhost-design-report.txt").c_str(),
                out.written().c_str());
    if (designExitStatus(result) != 0) {
        std::fprintf(stderr, "arrayhost: the chosen array could not be measured: the plug-in refused %ld calls and "
                             "answered NaN at %ld seats\n",
                     result.chosenEvenness.refusedCalls, result.chosenEvenness.notANumberSeats);
    }
    return designExitStatus(result);
}

int run(const Options& options) {
    ScenarioError scenarioError;
    std::optional<Scenario> loaded = options.scenarioPath.empty()
                                         ? std::optional<Scenario>(defaultScenario())
                                         : loadScenario(options.scenarioPath, scenarioError);
    if (!loaded) {
        std::fprintf(stderr, "arrayhost: %s\n", scenarioError.message().c_str());
        return kBadInput;
    }
    Scenario scenario = *loaded;
    if (!options.plugin.empty()) scenario.plugin = options.plugin;
    if (options.design) return runDesign(options, scenario);

    std::string error;
    auto session = Session::open(scenario.plugin, error);
    if (!session) {
        std::fprintf(stderr, "arrayhost: %s\n", error.c_str());
        return kPluginFailed;
    }
    std::string report = "arrayhost: " + scenario.source + "\n\n";
    report += formatDescriptors(session->describe(), session->libraryPath()) + "\n";
    if (!session->setUp(scenario, error)) {
        std::fputs(report.c_str(), stdout);
        std::fprintf(stderr, "arrayhost: %s\n", error.c_str());
        return kBadInput;
    }
    const std::vector<CellPose> poses = session->cellPoses();
    report += formatSetup(scenario, poses) + "\n";
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);

    std::string more;
    long refusedCalls = 0;
    if (scenario.seatM) {
        const SeatResult seat = measureSeat(*session, *scenario.seatM, scenario.speedOfSoundMPerS, scenario.coherentSum);
        refusedCalls += seat.refusedCalls;
        more += formatSeat(seat, scenario.speedOfSoundMPerS) + "\n";
    }
    std::optional<CoverageMap> map;
    if (scenario.audience) {
        SweepTiming timing;
        map = sweepAudience(*session, scenario, timing, options.progress);
        refusedCalls += timing.refusedCalls;
        more += formatCoverage(*map, timing, scenario.mapSum) + "\n";
    }
    if (refusedCalls > 0) {
        std::fputs((report + more).c_str(), stdout);
        std::fprintf(stderr, "arrayhost: the plug-in refused %ld per-cell calls (result other than 0)\n",
                     refusedCalls);
        return kPluginFailed;
    }
    std::fputs(more.c_str(), stdout);
    std::fflush(stdout);
    report += more;

    std::error_code fsError;
    std::filesystem::create_directories(options.outDir, fsError);
    Output out(options.outDir);
    if (fsError) out.fail("cannot create " + options.outDir + ": " + fsError.message());
    const std::string product = stemOf(session->libraryPath());
    if (out.ok() && options.images) {
        if (map) {
            MapLabels labels;
            labels.markers.push_back({scenario.arrayPositionM.x, scenario.arrayPositionM.y, "array"});
            const AudiencePlane& plane = *scenario.audience;
            if (scenario.seatM && scenario.seatM->x >= plane.xMinM && scenario.seatM->x <= plane.xMaxM &&
                scenario.seatM->y >= plane.yMinM && scenario.seatM->y <= plane.yMaxM) {
                labels.markers.push_back({scenario.seatM->x, scenario.seatM->y, "seat"});
            }
            const std::string sumText =
                scenario.mapSum == CellSum::Cells   ? "cells as point sources"
                : scenario.mapSum == CellSum::Power ? "host view: power sum"
                                                    : "host view: interface-coherent (array gain counted twice)";
            const char* sumDetail = scenario.mapSum == CellSum::Power ? ""
                                    : scenario.coherentSum == CoherentMode::BandAverage
                                        ? ", band-averaged"
                                        : ", at band centres";
            char where[160];
            std::snprintf(where, sizeof where, "%d cells hung at %.1f m, seats at %.1f m, grid %g m%s",
                          scenario.cellCount(), scenario.arrayPositionM.z, scenario.audience->heightM,
                          scenario.audience->resolutionM, sumDetail);
            for (size_t k = 0; k < map->bands().size(); ++k) {
                const std::string band = bandLabel(map->bands()[k]);
                labels.title = product + ": " + band + ", " + sumText;
                labels.subtitle = where;
                labels.unit = "dB";
                out.png(drawCoverageMap(*map, map->bandLayer(k, scenario.mapSum), scenario.mapRangeDb, labels),
                        "arrayhost-map-" + fileLabel(band) + ".png");
            }
            labels.title = product + ": broadband, A-weighted, " + sumText;
            labels.subtitle = std::string(where) + "; 21 bands";
            labels.unit = "dB(A)";
            out.png(drawCoverageMap(*map, map->broadbandLayer(scenario.mapSum), scenario.mapRangeDb, labels),
                    "arrayhost-map-broadband.png");
        }
        char tilt[64];
        std::snprintf(tilt, sizeof tilt, "%d cells, tilt %.1f deg", scenario.cellCount(), scenario.arrayAnglesDeg.y);
        out.png(drawSideView(session->mesh(), poses, scenario.arrayPositionM, scenario.arrayAnglesDeg,
                             product + ": side view, " + tilt),
                "arrayhost-side.png");
    }
    if (out.ok() && map) {
        if (writeCoverageCsv(*map, out.path("arrayhost-coverage.csv"), error)) {
            std::string written = "  " + out.path("arrayhost-coverage.csv") + "\n";
            report += "Written:\n" + out.written() + written;
            std::printf("Written:\n%s%s", out.written().c_str(), written.c_str());
        } else {
            out.fail(error);
        }
    } else if (out.ok() && !out.written().empty()) {
        report += "Written:\n" + out.written();
        std::printf("Written:\n%s", out.written().c_str());
    }
    if (out.ok()) out.text(report, "arrayhost-report.txt");
    return out.ok() ? 0 : kOutputFailed;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "arrayhost: %s needs a value\n%s", name, kUsage);
                std::exit(kBadInput);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--default-scenario") {
            std::fputs(defaultScenarioText(), stdout);
            return 0;
        } else if (arg == "--plugin") {
            options.plugin = value("--plugin");
        } else if (arg == "--out") {
            options.outDir = value("--out");
        } else if (arg == "--no-images") {
            options.images = false;
        } else if (arg == "--design") {
            options.design = true;
        } else if (arg == "--slope") {
            const std::string slope = value("--slope");
            if (slope != "0" && slope != "-1.5" && slope != "-3") {
                std::fprintf(stderr, "arrayhost: --slope takes 0, -1.5 or -3 (dB per doubling), not %s\n",
                             slope.c_str());
                return kBadInput;
            }
            options.slopeDbPerDoubling = std::strtod(slope.c_str(), nullptr);
        } else if (arg == "--bands") {
            const std::string low = value("--bands"), high = value("--bands");
            options.firstBand = bandIndexOfHz(std::strtod(low.c_str(), nullptr));
            options.lastBand = bandIndexOfHz(std::strtod(high.c_str(), nullptr));
            if (options.firstBand < 0 || options.lastBand < options.firstBand) {
                std::fprintf(stderr,
                             "arrayhost: --bands takes two band centres in Hz, low then high (100 to 10000), not %s %s\n",
                             low.c_str(), high.c_str());
                return kBadInput;
            }
        } else if (arg == "--tilt") {
            const std::string low = value("--tilt"), high = value("--tilt");
            char* end1 = nullptr;
            char* end2 = nullptr;
            const double lo = std::strtod(low.c_str(), &end1), hi = std::strtod(high.c_str(), &end2);
            if (*end1 != '\0' || *end2 != '\0' || low.empty() || high.empty() || !(lo <= hi) || lo < -90 ||
                hi > 90) {
                std::fprintf(stderr, "arrayhost: --tilt takes two angles in degrees, MIN <= MAX within -90..90, not %s %s\n",
                             low.c_str(), high.c_str());
                return kBadInput;
            }
            options.tiltRangeDeg = std::make_pair(lo, hi);
        } else if (arg == "--each-band") {
            options.eachBand = true;
        } else if (arg == "--free-order") {
            options.freeOrder = true;
        } else if (arg == "--quiet") {
            options.progress = false;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "arrayhost: unknown option %s\n%s", arg.c_str(), kUsage);
            return kBadInput;
        } else if (options.scenarioPath.empty()) {
            options.scenarioPath = arg;
        } else {
            std::fprintf(stderr, "arrayhost: one scenario at a time (%s and %s)\n", options.scenarioPath.c_str(),
                         arg.c_str());
            return kBadInput;
        }
    }
    return run(options);
}
