#include "tools/balloon/balloon_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "acoustics/bands.h"

namespace balloon {

namespace {

using acoustics::kBalloonBandStride;
using acoustics::kGridStepDeg;
using acoustics::kMeridianCount;
using acoustics::kPolarCount;

struct Node {
    int band;
    int meridian;
    int polar;
};

std::string describe(const Node& n) {
    return std::to_string(static_cast<int>(acoustics::bandCentreHz(n.band))) + " Hz, meridian " +
           std::to_string(n.meridian * kGridStepDeg) + ", polar " + std::to_string(n.polar * kGridStepDeg);
}

// Whole-token number; false for anything strtod does not take entirely.
bool parseNumber(const std::string& token, double& value) {
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(token.c_str(), &end);
    return end == token.c_str() + token.size() && errno != ERANGE;
}

// Index of an angle that lies on the 5-degree grid within [0, limitDeg].
bool gridIndex(double deg, int limitDeg, int& index) {
    const double steps = deg / kGridStepDeg;
    const double whole = std::round(steps);
    if (!(std::fabs(steps - whole) < 1e-9) || whole < 0 || whole * kGridStepDeg > limitDeg) return false;
    index = static_cast<int>(whole);
    return true;
}

int bandOf(double hz) {
    for (int band = 0; band < models::kBandCount; ++band)
        if (std::fabs(hz - acoustics::bandCentreHz(band)) <= 1e-6 * hz) return band;
    return -1;
}

// One kind being read: the level of each node and the line that gave it.
struct KindGrid {
    std::vector<double> level = std::vector<double>(acoustics::kBalloonValueCount, 0.0);
    std::vector<int> line = std::vector<int>(acoustics::kBalloonValueCount, 0);
};

}  // namespace

ImportResult importBalloonText(const std::string& text, const std::string& fileName) {
    ImportResult result;
    auto reject = [&](int lineNumber, const std::string& reason) {
        result.balloons.clear();
        result.error = fileName + ":" + std::to_string(lineNumber) + ": " + reason;
        return result;
    };

    std::map<std::string, KindGrid> kinds;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) tokens.push_back(token);
        if (tokens.empty()) continue;
        if (tokens.size() != 5) {
            return reject(lineNumber, "expected 5 fields (kind, band Hz, meridian, polar, level dB), found " +
                                          std::to_string(tokens.size()));
        }
        double hz, meridianDeg, polarDeg, levelDb;
        if (!parseNumber(tokens[1], hz)) return reject(lineNumber, "band '" + tokens[1] + "' is not a number");
        if (!parseNumber(tokens[2], meridianDeg))
            return reject(lineNumber, "meridian '" + tokens[2] + "' is not a number");
        if (!parseNumber(tokens[3], polarDeg)) return reject(lineNumber, "polar '" + tokens[3] + "' is not a number");
        if (!parseNumber(tokens[4], levelDb)) return reject(lineNumber, "level '" + tokens[4] + "' is not a number");

        Node node{bandOf(hz), 0, 0};
        if (node.band < 0) return reject(lineNumber, "band " + tokens[1] + " Hz is not a third-octave centre 100-10000 Hz");
        if (!gridIndex(meridianDeg, 360 - kGridStepDeg, node.meridian))
            return reject(lineNumber, "meridian " + tokens[2] + " is not on the 5-degree grid 0-355");
        if (!gridIndex(polarDeg, 180, node.polar))
            return reject(lineNumber, "polar " + tokens[3] + " is not on the 5-degree grid 0-180");
        if (!std::isfinite(levelDb)) return reject(lineNumber, "level " + tokens[4] + " is not finite");
        if (node.polar == 0 && levelDb != 0.0)
            return reject(lineNumber, "on-axis level " + tokens[4] + " dB; the balloon must be normalised to 0 dB on axis");

        KindGrid& grid = kinds[tokens[0]];
        const int index = acoustics::balloonIndex(node.band, node.meridian, node.polar);
        if (grid.line[index] != 0) {
            return reject(lineNumber, "node " + tokens[0] + " " + describe(node) + " already given on line " +
                                          std::to_string(grid.line[index]));
        }
        grid.level[index] = levelDb;
        grid.line[index] = lineNumber;
    }
    if (kinds.empty()) return reject(lineNumber, "no balloon nodes");

    for (auto& [kind, grid] : kinds) {
        int missing = 0;
        Node first{};
        for (int band = 0; band < models::kBandCount; ++band)
            for (int m = 0; m < kMeridianCount; ++m)
                for (int p = 0; p < kPolarCount; ++p)
                    if (grid.line[acoustics::balloonIndex(band, m, p)] == 0 && missing++ == 0) first = {band, m, p};
        if (missing > 0) {
            return reject(lineNumber, "kind " + kind + " lacks " + std::to_string(missing) + " of " +
                                          std::to_string(acoustics::kBalloonValueCount) + " nodes, the first at " +
                                          describe(first));
        }
        Balloon balloon(acoustics::kBalloonValueCount);
        for (int band = 0; band < models::kBandCount; ++band) {
            const int rear = kPolarCount - 1;
            double sum = 0.0;
            for (int m = 0; m < kMeridianCount; ++m) sum += grid.level[acoustics::balloonIndex(band, m, rear)];
            const double mean = sum / kMeridianCount;
            for (int m = 0; m < kMeridianCount; ++m) {
                const int index = acoustics::balloonIndex(band, m, rear);
                if (std::fabs(grid.level[index] - mean) > kRearRowToleranceDb) {
                    char reason[160];
                    std::snprintf(reason, sizeof reason,
                                  "rear node of kind %s at %s differs by %.4f dB from the band's mean %.4f dB "
                                  "(tolerance %.2f dB)",
                                  kind.c_str(), describe({band, m, rear}).c_str(), grid.level[index] - mean, mean,
                                  kRearRowToleranceDb);
                    return reject(grid.line[index], reason);
                }
            }
            for (int m = 0; m < kMeridianCount; ++m) {
                for (int p = 0; p < kPolarCount; ++p) {
                    const int index = acoustics::balloonIndex(band, m, p);
                    // +0.0 on axis; one value straight behind.
                    balloon[index] = p == 0 ? 0.0f : static_cast<float>(p == rear ? mean : grid.level[index]);
                }
            }
        }
        result.balloons[kind] = std::move(balloon);
    }
    return result;
}

std::string exportBalloonText(const std::string& kind, const Balloon& balloon) {
    std::string out;
    out += "# Directivity balloon of kind " + kind + ": level in dB relative to on axis.\n";
    out += "# kind  band_Hz  meridian_deg  polar_deg  level_dB\n";
    char line[96];
    for (int band = 0; band < models::kBandCount; ++band) {
        for (int m = 0; m < kMeridianCount; ++m) {
            for (int p = 0; p < kPolarCount; ++p) {
                // Nine significant digits bring every f32 back unchanged.
                std::snprintf(line, sizeof line, "%s %d %d %d %.9g\n", kind.c_str(),
                              static_cast<int>(acoustics::bandCentreHz(band)), m * kGridStepDeg, p * kGridStepDeg,
                              static_cast<double>(balloon[acoustics::balloonIndex(band, m, p)]));
                out += line;
            }
        }
    }
    return out;
}

}  // namespace balloon
