#include "tools/balloon/sphere_resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <utility>

#include "acoustics/balloon_grid.h"
#include "tools/balloon/balloon_io.h"

extern "C" {
#include <libqhull_r/qhull_ra.h>
}

namespace balloon {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kSameDirectionRad = 2e-5;
// Measurement grids put four or more points on one circle; a tiny turn of
// each point makes the hull's faces unambiguous without moving the weights.
constexpr double kJitterRad = 1e-7;

Direction sub(const Direction& a, const Direction& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(const Direction& a, const Direction& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Direction cross(const Direction& a, const Direction& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double triple(const Direction& a, const Direction& b, const Direction& c) { return dot(cross(a, b), c); }
Direction normalised(const Direction& a) {
    const double n = std::sqrt(dot(a, a));
    return {a.x / n, a.y / n, a.z / n};
}

// Qhull's exit codes (libqhull_r.h), for the message that names one.
const char* qhullCodeName(int code) {
    switch (code) {
        case qh_ERRinput: return "qh_ERRinput, bad input";
        case qh_ERRsingular: return "qh_ERRsingular, the input is degenerate";
        case qh_ERRprec: return "qh_ERRprec, a precision error";
        case qh_ERRmem: return "qh_ERRmem, out of memory";
        case qh_ERRqhull: return "qh_ERRqhull, an internal error";
        case qh_ERRother: return "qh_ERRother";
        case qh_ERRtopology: return "qh_ERRtopology, a topology error";
        case qh_ERRwide: return "qh_ERRwide, a wide facet";
        default: return "an unknown code";
    }
}

}  // namespace

// Each face oriented outward: (b - a) x (c - a) points away from the
// sphere's centre.
std::vector<std::array<int, 3>> sphereHull(const std::vector<Direction>& p, size_t& missing, std::string& error) {
    std::vector<coordT> coordinates;
    coordinates.reserve(3 * p.size());
    for (const Direction& d : p) coordinates.insert(coordinates.end(), {d.x, d.y, d.z});
    qhT context;
    qhT* qh = &context;
    qh_zero(qh, nullptr);
    std::vector<std::array<int, 3>> faces;
    // "Qt": triangulated facets. Qhull reports an error through its exit
    // code and a message, which goes to memory here, not to our output.
    char options[] = "qhull Qt";
    char* message = nullptr;
    size_t messageSize = 0;
    std::FILE* messages = open_memstream(&message, &messageSize);
    const int exitCode = qh_new_qhull(qh, 3, static_cast<int>(p.size()), coordinates.data(), False, options, nullptr,
                                      messages ? messages : stderr);
    if (exitCode == 0) {
        std::vector<char> used(p.size(), 0);
        for (facetT* facet = qh->facet_list; facet && facet->next; facet = facet->next) {
            std::array<int, 3> v{};
            int k = 0;
            if (qh_setsize(qh, facet->vertices) != 3) continue;
            for (; k < 3; ++k) v[k] = qh_pointid(qh, static_cast<vertexT*>(SETelem_(facet->vertices, k))->point);
            const Direction normal = cross(sub(p[v[1]], p[v[0]]), sub(p[v[2]], p[v[0]]));
            const Direction outward{facet->normal[0], facet->normal[1], facet->normal[2]};
            if (dot(normal, outward) < 0) std::swap(v[1], v[2]);
            for (int i : v) used[i] = 1;
            faces.push_back(v);
        }
        missing = static_cast<size_t>(std::count(used.begin(), used.end(), 0));
    }
    qh_freeqhull(qh, !qh_ALL);
    int curlong = 0, totlong = 0;
    qh_memfreeshort(qh, &curlong, &totlong);
    std::string firstLine;
    if (messages) {
        std::fclose(messages);
        const std::string text = message ? std::string(message, messageSize) : std::string();
        std::free(message);
        const size_t start = text.find_first_not_of(" \n");
        if (start != std::string::npos) firstLine = text.substr(start, text.find('\n', start) - start);
    }
    if (exitCode != 0) {
        error = "Qhull cannot triangulate them: exit code " + std::to_string(exitCode) + " (" + qhullCodeName(exitCode) + ")";
        if (exitCode == qh_ERRsingular) error += ": the directions lie in one plane";
        if (!firstLine.empty()) error += "; Qhull says: " + firstLine;
    } else if (faces.empty()) {
        error = "Qhull found no triangles among them";
    }
    return faces;
}

Direction gridDirection(int meridian, int polar) {
    const double theta = polar * acoustics::kGridStepDeg * kDegToRad;
    const double phi = meridian * acoustics::kGridStepDeg * kDegToRad;
    return {std::cos(theta), -std::sin(theta) * std::sin(phi), std::sin(theta) * std::cos(phi)};
}

SphereInterpolator::SphereInterpolator(const std::vector<Direction>& directions) : points_(directions) {
    if (points_.size() < 4) {
        error_ = "fewer than 4 distinct directions";
        return;
    }
    std::vector<Direction> jittered(points_.size());
    unsigned state = 12345u;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0 - 0.5;
    };
    for (size_t i = 0; i < points_.size(); ++i) {
        const Direction d = normalised(points_[i]);
        const double a = next(), b = next(), c = next();
        jittered[i] = normalised({d.x + kJitterRad * a, d.y + kJitterRad * b, d.z + kJitterRad * c});
    }
    size_t missing = 0;
    faces_ = sphereHull(jittered, missing, error_);
    if (faces_.empty()) return;
    if (missing != 0) {  // cannot happen for distinct directions on a sphere
        error_ = std::to_string(missing) + " directions are not corners of the triangulation";
        faces_.clear();
        return;
    }
    // Each face's neighbour across the edge opposite each corner, for the walk.
    std::unordered_map<uint64_t, int> faceOfEdge;
    auto edgeKey = [](int from, int to) { return (uint64_t(uint32_t(from)) << 32) | uint32_t(to); };
    for (size_t f = 0; f < faces_.size(); ++f)
        for (int k = 0; k < 3; ++k) faceOfEdge[edgeKey(faces_[f][k], faces_[f][(k + 1) % 3])] = static_cast<int>(f);
    neighbours_.resize(faces_.size());
    for (size_t f = 0; f < faces_.size(); ++f)
        for (int k = 0; k < 3; ++k) {
            const auto across = faceOfEdge.find(edgeKey(faces_[f][(k + 2) % 3], faces_[f][(k + 1) % 3]));
            neighbours_[f][k] = across == faceOfEdge.end() ? -1 : across->second;
        }
    // Every triangle's circumscribed cap must be small: a large one is a
    // region without measurements (or the source lies outside the hull).
    double worstDeg = 0.0;
    for (const auto& [a, b, c] : faces_) {
        const Direction n = normalised(cross(sub(points_[b], points_[a]), sub(points_[c], points_[a])));
        const double capDeg = std::acos(std::clamp(dot(n, normalised(points_[a])), -1.0, 1.0)) / kDegToRad;
        worstDeg = std::max(worstDeg, capDeg);
    }
    if (!(worstDeg <= kLargestGapDeg)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the directions leave a gap of %.1f degrees (at most %.0f): they do not surround the source",
                      worstDeg, kLargestGapDeg);
        error_ = text;
    }
}

SphereInterpolator::Stencil SphereInterpolator::stencil(int face, const Direction& d) const {
    const std::array<int, 3>& v = faces_[face];
    const double wa = triple(points_[v[1]], points_[v[2]], d), wb = triple(points_[v[2]], points_[v[0]], d),
                 wc = triple(points_[v[0]], points_[v[1]], d);
    const double ca = std::max(wa, 0.0), cb = std::max(wb, 0.0), cc = std::max(wc, 0.0);
    const double s = ca + cb + cc;
    return {{v[0], v[1], v[2]}, {ca / s, cb / s, cc / s}};
}

SphereInterpolator::Stencil SphereInterpolator::locate(const Direction& d, int& hint) const {
    // Walk from the hint toward d, across the edge whose plane has d on the
    // far side, until a triangle holds d inside all three edge planes.
    // Neighbouring grid nodes lie in the same or a nearby triangle, so a
    // walk takes a few steps.
    int face = hint >= 0 && static_cast<size_t>(hint) < faces_.size() ? hint : 0;
    for (size_t step = 0; face >= 0 && step < faces_.size(); ++step) {
        const std::array<int, 3>& v = faces_[face];
        const double w[3] = {triple(points_[v[1]], points_[v[2]], d), triple(points_[v[2]], points_[v[0]], d),
                             triple(points_[v[0]], points_[v[1]], d)};
        const int worst = static_cast<int>(std::min_element(w, w + 3) - w);
        if (w[worst] >= 0 && w[0] + w[1] + w[2] > 0) {
            hint = face;
            return stencil(face, d);
        }
        face = neighbours_[face][worst];
    }
    return locate(d);
}

SphereInterpolator::Stencil SphereInterpolator::locate(const Direction& d) const {
    // The triangle whose three edge planes hold d on their inner side; with
    // rounding, the one that holds it best.
    double bestMargin = -1e300;
    Stencil best{};
    for (size_t f = 0; f < faces_.size(); ++f) {
        const std::array<int, 3>& face = faces_[f];
        const double wa = triple(points_[face[1]], points_[face[2]], d),
                     wb = triple(points_[face[2]], points_[face[0]], d),
                     wc = triple(points_[face[0]], points_[face[1]], d);
        const double sum = wa + wb + wc;
        if (!(sum > 0)) continue;
        const double margin = std::min({wa, wb, wc}) / sum;
        if (margin > bestMargin) {
            bestMargin = margin;
            best = stencil(static_cast<int>(f), d);
            if (margin >= 0) break;
        }
    }
    return best;
}

ResampleResult resampleToGrid(const std::vector<Direction>& directions, const std::vector<BandEnergies>& energies) {
    using namespace acoustics;
    ResampleResult result;
    if (directions.size() > kMaxDirections) {
        result.error = std::to_string(directions.size()) + " directions; the resampling takes at most " +
                       std::to_string(kMaxDirections);
        return result;
    }
    // Merge repeats of one direction (a pole measured at every azimuth) into
    // the first direction within kSameDirectionRad. Directions that close
    // differ by less than a cell of this grid in each coordinate, so only
    // the 27 cells around a direction hold candidates.
    std::vector<Direction> unique;
    std::vector<BandEnergies> merged;
    std::vector<int> count;
    const double sameCos = std::cos(kSameDirectionRad);
    constexpr double kCell = 2 * kSameDirectionRad;
    auto cellOf = [](double c) { return static_cast<int64_t>(std::floor(c / kCell)); };
    auto cellKey = [](int64_t x, int64_t y, int64_t z) {
        constexpr int64_t kSpan = int64_t(1) << 20;  // |c| <= 1 is at most 25,000 cells from 0
        return uint64_t(((x + kSpan) << 42) | ((y + kSpan) << 21) | (z + kSpan));
    };
    std::unordered_map<uint64_t, std::vector<int>> cells;
    for (size_t i = 0; i < directions.size(); ++i) {
        const Direction d = normalised(directions[i]);
        size_t j = unique.size();
        const int64_t cx = cellOf(d.x), cy = cellOf(d.y), cz = cellOf(d.z);
        for (int64_t x = cx - 1; x <= cx + 1; ++x)
            for (int64_t y = cy - 1; y <= cy + 1; ++y)
                for (int64_t z = cz - 1; z <= cz + 1; ++z) {
                    const auto cell = cells.find(cellKey(x, y, z));
                    if (cell == cells.end()) continue;
                    for (int k : cell->second)
                        if (static_cast<size_t>(k) < j && dot(unique[k], d) >= sameCos) j = static_cast<size_t>(k);
                }
        if (j == unique.size()) {
            cells[cellKey(cx, cy, cz)].push_back(static_cast<int>(j));
            unique.push_back(d);
            merged.push_back(energies[i]);
            count.push_back(1);
        } else {
            for (int band = 0; band < kBandCount; ++band) merged[j][band] += energies[i][band];
            ++count[j];
        }
    }
    for (size_t j = 0; j < unique.size(); ++j)
        for (int band = 0; band < kBandCount; ++band) {
            double& e = merged[j][band];
            e /= count[j];
            if (!std::isfinite(e) || e < 0) {
                char text[128];
                std::snprintf(text, sizeof text, "a direction's %g Hz band energy (over its %d repeats) is %s",
                              bandCentreHz(band), count[j], e < 0 ? "negative" : "not finite");
                result.error = text;
                return result;
            }
        }

    const SphereInterpolator interpolator(unique);
    if (!interpolator.error().empty()) {
        result.error = interpolator.error();
        return result;
    }
    int hint = 0;
    auto energyAt = [&](const Direction& d) {
        const SphereInterpolator::Stencil s = interpolator.locate(d, hint);
        BandEnergies e{};
        for (int band = 0; band < kBandCount; ++band)
            for (int k = 0; k < 3; ++k) e[band] += s.weight[k] * merged[s.index[k]][band];
        return e;
    };
    result.onAxisEnergy = energyAt({1.0, 0.0, 0.0});
    for (int band = 0; band < kBandCount; ++band) {
        if (!std::isfinite(result.onAxisEnergy[band])) {
            char text[128];
            std::snprintf(text, sizeof text, "the on-axis energy in the %g Hz band overflows a double",
                          bandCentreHz(band));
            result.error = text;
            return result;
        }
        if (!(result.onAxisEnergy[band] > 0.0)) {
            char text[96];
            std::snprintf(text, sizeof text, "no sound on axis in the %g Hz band", bandCentreHz(band));
            result.error = text;
            return result;
        }
    }
    auto levelDb = [&](double energy, int band) {
        const double db = 10.0 * std::log10(energy / result.onAxisEnergy[band]);
        return static_cast<float>(std::max(db, kLevelFloorDb));
    };
    result.balloon.assign(kBalloonValueCount, 0.0f);
    const BandEnergies rear = energyAt({-1.0, 0.0, 0.0});
    for (int m = 0; m < kMeridianCount; ++m) {
        for (int p = 1; p < kPolarCount - 1; ++p) {
            const BandEnergies e = energyAt(gridDirection(m, p));
            for (int band = 0; band < kBandCount; ++band) result.balloon[balloonIndex(band, m, p)] = levelDb(e[band], band);
        }
        for (int band = 0; band < kBandCount; ++band)
            result.balloon[balloonIndex(band, m, kPolarCount - 1)] = levelDb(rear[band], band);
    }
    // Energies summed or divided past the range of a double (a direction
    // some 300 dB above a nearly silent axis) give no level at all.
    if (const std::string bad = nonFiniteNode(result.balloon); !bad.empty()) {
        result.error = bad + ": the energies around it are beyond the range of a double";
        result.balloon.clear();
    }
    return result;
}

void mirrorBalloon(Balloon& balloon) {
    using namespace acoustics;
    for (int band = 0; band < kBandCount; ++band)
        for (int m = 1; m < kMeridianCount / 2; ++m)
            for (int p = 0; p < kPolarCount; ++p) {
                float& a = balloon[balloonIndex(band, m, p)];
                float& b = balloon[balloonIndex(band, mirroredMeridian(m), p)];
                const double mean = 0.5 * (std::pow(10.0, a / 10.0) + std::pow(10.0, b / 10.0));
                a = b = static_cast<float>(10.0 * std::log10(mean));
            }
}

std::array<Asymmetry, acoustics::kBandCount> balloonAsymmetry(const Balloon& balloon) {
    using namespace acoustics;
    std::array<Asymmetry, kBandCount> result{};
    for (int band = 0; band < kBandCount; ++band)
        for (int m = 1; m < kMeridianCount / 2; ++m)
            for (int p = 0; p < kPolarCount; ++p) {
                const double d = std::fabs(balloon[balloonIndex(band, m, p)] -
                                           balloon[balloonIndex(band, mirroredMeridian(m), p)]);
                if (d > result[band].worstDb) result[band] = {d, m * kGridStepDeg, p * kGridStepDeg};
            }
    return result;
}

}  // namespace balloon
