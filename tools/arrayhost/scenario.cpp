#include "tools/arrayhost/scenario.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "tools/host/product.h"

namespace arrayhost {

namespace {

constexpr const char* kDefaultScenarioText = R"(# The built-in default: 12 cells of ktr4 with a progressive splay, hung 10 m
# up at the front edge of a 30 m wide, 40 m deep floor and aimed down at it.
plugin = ktr4
speed_of_sound = 343
humidity = 50
air_absorption = on
cells = 12
splays = 0 1 1 1 2 2 3 4 5 6 7 8
array_position = 0 0 10
array_angles = 0 -10 0
seat = 0 -20 1.2
audience = -15 -40 15 0 1.2
audience_line = 0 -3 1.2; 0 -40 1.2
resolution = 0.2
map_bands = 250 1000 4000
map_sum = cells
map_range = 24
)";

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// Parts between separators, empty ones included so that `;;` is caught.
std::vector<std::string> split(const std::string& s, char separator) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = s.find(separator, start)) != std::string::npos; start = at + 1) {
        out.push_back(s.substr(start, at - start));
    }
    out.push_back(s.substr(start));
    return out;
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string formatNumber(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

std::string wholeNumber(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

// Thrown inside the parser only, to leave at the first fault.
struct Fault {
    int line;
    std::string key;
    std::string reason;
};

class Parser {
public:
    Parser(const std::string& text, const std::string& fileName) : text_(text) {
        scenario_.source = fileName;
    }

    Scenario run() {
        std::istringstream in(text_);
        std::string raw;
        int lineNumber = 0;
        while (std::getline(in, raw)) {
            ++lineNumber;
            const auto hash = raw.find('#');
            const std::string line = trim(hash == std::string::npos ? raw : raw.substr(0, hash));
            if (line.empty()) continue;
            const auto equals = line.find('=');
            if (equals == std::string::npos) {
                throw Fault{lineNumber, trim(line), "expected `key = value`"};
            }
            const std::string key = trim(line.substr(0, equals));
            const std::string value = trim(line.substr(equals + 1));
            if (key.empty()) throw Fault{lineNumber, "", "a line starts with `=`, the key is missing"};
            if (scenario_.keyLines.count(key) != 0) {
                throw Fault{lineNumber, key,
                            "given twice (first on line " + std::to_string(scenario_.keyLines[key]) + ")"};
            }
            line_ = lineNumber;
            key_ = key;
            if (value.empty()) fail("has no value");
            scenario_.keyLines[key] = lineNumber;
            assign(key, value);
        }
        checkWhole();
        return scenario_;
    }

private:
    [[noreturn]] void fail(const std::string& reason) const { throw Fault{line_, key_, reason}; }
    [[noreturn]] void failAt(const std::string& key, const std::string& reason) const {
        const auto it = scenario_.keyLines.find(key);
        throw Fault{it == scenario_.keyLines.end() ? 0 : it->second, key, reason};
    }

    double number(const std::string& word) const {
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0') fail("`" + word + "` is not a number");
        if (errno == ERANGE || !std::isfinite(v)) fail("`" + word + "` is not a finite number");
        return v;
    }

    std::vector<double> numbers(const std::string& value, size_t expected, const char* what) const {
        const auto ws = words(value);
        if (expected != 0 && ws.size() != expected) {
            fail(std::string("expected ").append(std::to_string(expected)) + " numbers (" + what + "), found " +
                 std::to_string(ws.size()));
        }
        std::vector<double> out;
        for (const auto& w : ws) out.push_back(number(w));
        return out;
    }

    double single(const std::string& value, const char* what) const { return numbers(value, 1, what)[0]; }

    void inRange(double v, double lo, double hi, const char* unit) const {
        if (v < lo || v > hi) {
            fail(formatNumber(v) + " is outside " + formatNumber(lo) + " to " + formatNumber(hi) + unit);
        }
    }

    bool onOff(const std::string& value) const {
        if (value == "on") return true;
        if (value == "off") return false;
        fail("expected `on` or `off`, found `" + value + "`");
    }

    Vec3 vec3(const std::string& value, const char* what) const {
        const auto v = numbers(value, 3, what);
        return {v[0], v[1], v[2]};
    }

    BandValues bands(const std::string& value, double lo, double hi, const char* unit) const {
        const auto v = numbers(value, kBandCount, "one per band, 100 Hz to 10 kHz");
        BandValues out{};
        for (int i = 0; i < kBandCount; ++i) {
            if (v[i] < lo || v[i] > hi) {
                fail("band " + bandLabel(i) + ": " + formatNumber(v[i]) + " is outside " + formatNumber(lo) +
                     " to " + formatNumber(hi) + unit + " (the plug-in would clamp it)");
            }
            out[i] = v[i];
        }
        return out;
    }

    // Points `x y z` separated by `;`, segments by `|`.
    AudienceLine line(const std::string& value) const {
        AudienceLine line;
        int points = 0;
        for (const std::string& segmentText : split(value, '|')) {
            std::vector<Vec3> segment;
            for (const std::string& pointText : split(segmentText, ';')) {
                segment.push_back(vec3(pointText, "x y z of a point in metres"));
                ++points;
            }
            if (segment.size() < 2) {
                fail("a segment needs at least 2 points, `x y z; x y z`, found " + std::to_string(segment.size()));
            }
            for (size_t i = 1; i < segment.size(); ++i) {
                const Vec3& a = segment[i - 1];
                const Vec3& b = segment[i];
                if (a.x == b.x && a.y == b.y && a.z == b.z) {
                    const size_t number = size_t(points) - segment.size() + i + 1;
                    fail("point " + std::to_string(number) + " repeats the one before it");
                }
            }
            line.segments.push_back(segment);
        }
        if (points < kFewestAudienceLinePoints || points > kMostAudienceLinePoints) {
            fail("expected " + std::to_string(kFewestAudienceLinePoints) + " to " +
                 std::to_string(kMostAudienceLinePoints) + " points, found " + std::to_string(points));
        }
        return line;
    }

    void assign(const std::string& key, const std::string& value) {
        Scenario& s = scenario_;
        if (key == "plugin") {
            s.plugin = value;
        } else if (key == "speed_of_sound") {
            s.speedOfSoundMPerS = single(value, "m/s");
            inRange(s.speedOfSoundMPerS, 1.0, 1e6, " m/s");
        } else if (key == "humidity") {
            s.humidityPercent = single(value, "percent");
            inRange(s.humidityPercent, 5.0, 100.0, " %");
        } else if (key == "air_absorption") {
            s.airAbsorption = onOff(value);
        } else if (key == "cells") {
            const double n = single(value, "the cell count");
            if (n != std::floor(n)) fail(formatNumber(n) + " is not a whole number");
            inRange(n, 1, kMaxCells, "");
            cells_ = int(n);
        } else if (key == "splays") {
            for (double v : numbers(value, 0, "")) {
                if (std::fabs(v) > 90.0) fail(formatNumber(v) + " degrees is outside -90 to 90");
                s.splaysDeg.push_back(v);
            }
        } else if (key == "kinds") {
            for (const auto& w : words(value)) {
                int kind = -1;
                for (int k = 0; k < kCabinetKindCount; ++k) {
                    if (w == kCabinetKindNames[k]) kind = k;
                }
                if (kind < 0) fail("`" + w + "` is not a cabinet kind (QSA, QSB or QSC)");
                s.kinds.push_back(kind);
            }
        } else if (key == "array_position") {
            s.arrayPositionM = vec3(value, "x y z in metres");
        } else if (key == "array_angles") {
            s.arrayAnglesDeg = vec3(value, "three Euler angles in degrees");
        } else if (key == "filter_gains") {
            if (!s.filter) s.filter = Filter{};
            s.filter->gainsDb = bands(value, kFilterGainMinDb, kFilterGainMaxDb, " dB");
        } else if (key == "filter_phases") {
            if (!s.filter) s.filter = Filter{};
            s.filter->phasesDeg = bands(value, kFilterPhaseMinDeg, kFilterPhaseMaxDeg, " degrees");
        } else if (key == "seat") {
            s.seatM = vec3(value, "x y z in metres");
        } else if (key == "audience") {
            const auto v = numbers(value, 5, "x_min y_min x_max y_max height, in metres");
            if (!(v[0] < v[2]) || !(v[1] < v[3])) fail("x_min must be below x_max and y_min below y_max");
            AudiencePlane plane;
            plane.xMinM = v[0];
            plane.yMinM = v[1];
            plane.xMaxM = v[2];
            plane.yMaxM = v[3];
            plane.heightM = v[4];
            s.audience = plane;
        } else if (key == "audience_line") {
            s.audienceLine = line(value);
        } else if (key == "avoid_line") {
            s.avoidLine = line(value);
        } else if (key == "audience_width") {
            s.audienceWidthM = single(value, "metres");
            inRange(s.audienceWidthM, 0.0, kMostAudienceWidthM, " m");
        } else if (key == "lock") {
            for (const std::string& w : words(value)) {
                const auto colon = w.find(':');
                if (colon == std::string::npos) fail("`" + w + "` is not `cell:splay`");
                const double cell = number(w.substr(0, colon)), splay = number(w.substr(colon + 1));
                if (cell != std::floor(cell) || cell < 1 || cell > kMaxCells) {
                    fail("`" + w + "`: the cell is a number from 1 to " + std::to_string(kMaxCells));
                }
                for (const auto& [other, ignored] : s.locks) {
                    if (other == int(cell)) fail("cell " + wholeNumber(cell) + " is locked twice");
                }
                if (std::fabs(splay) > 90.0) {
                    fail("`" + w + "`: " + formatNumber(splay) + " degrees is outside -90 to 90");
                }
                s.locks.emplace_back(int(cell), splay);
            }
        } else if (key == "max_total_splay") {
            s.maxTotalSplayDeg = single(value, "degrees");
            inRange(*s.maxTotalSplayDeg, 0.0, 1440.0, " degrees");
        } else if (key == "top_angle") {
            s.topAngleDeg = single(value, "degrees");
            inRange(*s.topAngleDeg, -90.0, 90.0, " degrees");
        } else if (key == "resolution") {
            resolutionM_ = single(value, "grid step in metres");
            if (!(resolutionM_ > 0)) fail("the grid step must be above 0 m");
        } else if (key == "map_bands") {
            s.mapBands.clear();
            if (value == "none") return;
            for (double hz : numbers(value, 0, "")) {
                const int band = bandIndexOfHz(hz);
                if (band < 0) fail(formatNumber(hz) + " Hz is not a band centre (100, 125, 160 ... 10000)");
                s.mapBands.push_back(band);
            }
        } else if (key == "map_sum") {
            bool known = false;
            for (CellSum sum : kEveryCellSum) {
                if (value == cellSumName(sum)) s.mapSum = sum, known = true;
            }
            if (value == "coherent") {
                // The name of the sum that counted the array's gain twice.
                fail("`coherent` is now `interface-coherent` (the plug-in's levels added with path phases, which "
                     "counts the array's gain twice) or `cells` (every cell a point source: the physical sum)");
            } else if (!known) {
                fail("expected `cells`, `power` or `interface-coherent`, found `" + value + "`");
            }
        } else if (key == "coherent_sum") {
            if (value == "band") {
                s.coherentSum = CoherentMode::BandAverage;
            } else if (value == "centre") {
                s.coherentSum = CoherentMode::CentreOnly;
            } else {
                fail("expected `band` or `centre`, found `" + value + "`");
            }
        } else if (key == "map_range") {
            s.mapRangeDb = single(value, "dB");
            inRange(s.mapRangeDb, 3.0, 120.0, " dB");
        } else {
            fail("unknown key (see tools/arrayhost/README.md for the keys)");
        }
    }

    void checkWhole() {
        Scenario& s = scenario_;
        if (cells_ == 0) failAt("cells", "missing: give the cell count, 1 to 16");
        if (s.keyLines.count("splays") == 0) {
            s.splaysDeg.assign(size_t(cells_), 0.0);
        } else if (int(s.splaysDeg.size()) != cells_) {
            failAt("splays", "expected " + std::to_string(cells_) + " values (one per cell), found " +
                                 std::to_string(s.splaysDeg.size()));
        }
        // A library given by path is checked against its own blob format later.
        const host::Product* product = host::findProduct(s.plugin);
        if (s.keyLines.count("kinds") != 0) {
            if (int(s.kinds.size()) != cells_) {
                failAt("kinds", "expected " + std::to_string(cells_) + " names (one per cell), found " +
                                    std::to_string(s.kinds.size()));
            }
            if (product != nullptr && !product->cellsCarryKind) {
                failAt("kinds", "the cells of " + s.plugin + " carry no cabinet kind");
            }
        }
        if (product != nullptr && cells_ < product->fewestEntries) {
            failAt("cells", s.plugin + " takes " + std::to_string(product->fewestEntries) + " to " +
                                std::to_string(kMaxCells) + " cells");
        }
        if (!s.seatM && !s.audience) failAt("seat", "missing: give a seat, an audience plane, or both");
        // The array's vertical plane holds its position and its horizontal
        // aim, (sin a, -cos a, 0) for a first angle a about z.
        const double a = s.arrayAnglesDeg.x * 3.14159265358979323846 / 180.0;
        const double nx = std::cos(a), ny = std::sin(a);
        for (const auto& [key, given] :
             {std::pair{"audience_line", &s.audienceLine}, std::pair{"avoid_line", &s.avoidLine}}) {
            if (!*given) continue;
            int point = 0;
            for (const auto& segment : (*given)->segments) {
                for (const Vec3& p : segment) {
                    ++point;
                    const double offM = (p.x - s.arrayPositionM.x) * nx + (p.y - s.arrayPositionM.y) * ny;
                    if (std::fabs(offM) > kAudienceLinePlaneToleranceM) {
                        failAt(key, "point " + std::to_string(point) + " lies " + formatNumber(offM) +
                                        " m off the array's vertical plane");
                    }
                }
            }
        }
        for (const auto& [cell, splay] : s.locks) {
            if (cell > cells_) failAt("lock", "cell " + std::to_string(cell) + " is past the last cell, " + std::to_string(cells_));
        }
        if (s.keyLines.count("resolution") != 0 && !s.audience) {
            failAt("resolution", "given without an audience plane");
        }
        if (s.audience) {
            s.audience->resolutionM = resolutionM_;
            const double points = double(s.audience->columns()) * double(s.audience->rows());
            if (points > double(kMaxGridPoints)) {
                failAt(s.keyLines.count("resolution") ? "resolution" : "audience",
                       "the grid would have " + wholeNumber(points) + " points, more than " +
                           std::to_string(kMaxGridPoints));
            }
        }
    }

    const std::string& text_;
    Scenario scenario_;
    int cells_ = 0;
    double resolutionM_ = 0.5;
    int line_ = 0;
    std::string key_;
};

}  // namespace

int AudiencePlane::columns() const { return int(std::floor((xMaxM - xMinM) / resolutionM + 1e-9)) + 1; }
int AudiencePlane::rows() const { return int(std::floor((yMaxM - yMinM) / resolutionM + 1e-9)) + 1; }

Vec3 AudiencePlane::point(int column, int row) const {
    return {xMinM + column * resolutionM, yMinM + row * resolutionM, heightM};
}

std::string Scenario::where(const std::string& key) const {
    const auto it = keyLines.find(key);
    if (it == keyLines.end()) return source + ": ";
    return source + ":" + std::to_string(it->second) + ": ";
}

std::string ScenarioError::message() const {
    std::string out = file;
    if (line > 0) out.append(":").append(std::to_string(line));
    out += ": ";
    if (!key.empty()) out += key + ": ";
    return out + reason;
}

std::optional<Scenario> parseScenario(const std::string& text, const std::string& fileName,
                                      ScenarioError& error) {
    try {
        return Parser(text, fileName).run();
    } catch (const Fault& fault) {
        error = {fileName, fault.line, fault.key, fault.reason};
        return std::nullopt;
    }
}

std::optional<Scenario> loadScenario(const std::string& path, ScenarioError& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = {path, 0, "", "cannot be opened"};
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseScenario(text.str(), path, error);
}

Scenario defaultScenario() {
    ScenarioError error;
    auto scenario = parseScenario(kDefaultScenarioText, "default scenario", error);
    // The text is part of the program; the unit tests parse it.
    return scenario ? *scenario : Scenario{};
}

const char* defaultScenarioText() { return kDefaultScenarioText; }

}  // namespace arrayhost
