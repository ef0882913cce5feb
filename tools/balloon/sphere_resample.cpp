#include "tools/balloon/sphere_resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "acoustics/balloon_grid.h"
#include "tools/balloon/balloon_io.h"

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

// Incremental convex hull of points on the unit sphere; every point is a vertex.
std::vector<std::array<int, 3>> sphereHull(const std::vector<Direction>& p) {
    const int n = static_cast<int>(p.size());
    // A first tetrahedron of well-spread points.
    int i1 = 1;
    for (int i = 1; i < n; ++i)
        if (dot(sub(p[i], p[0]), sub(p[i], p[0])) > dot(sub(p[i1], p[0]), sub(p[i1], p[0]))) i1 = i;
    int i2 = -1;
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
        const Direction c = cross(sub(p[i1], p[0]), sub(p[i], p[0]));
        if (dot(c, c) > best) best = dot(c, c), i2 = i;
    }
    if (i2 < 0) return {};
    int i3 = -1;
    best = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = std::fabs(triple(sub(p[i1], p[0]), sub(p[i2], p[0]), sub(p[i], p[0])));
        if (v > best) best = v, i3 = i;
    }
    if (i3 < 0 || best < 1e-12) return {};
    std::vector<std::array<int, 3>> faces;
    const int t[4] = {0, i1, i2, i3};
    const Direction centre = {(p[0].x + p[i1].x + p[i2].x + p[i3].x) / 4, (p[0].y + p[i1].y + p[i2].y + p[i3].y) / 4,
                              (p[0].z + p[i1].z + p[i2].z + p[i3].z) / 4};
    auto addFace = [&](int a, int b, int c) {
        if (triple(sub(p[b], p[a]), sub(p[c], p[a]), sub(centre, p[a])) > 0) std::swap(b, c);
        faces.push_back({a, b, c});
    };
    addFace(t[0], t[1], t[2]);
    addFace(t[0], t[1], t[3]);
    addFace(t[0], t[2], t[3]);
    addFace(t[1], t[2], t[3]);

    std::vector<char> alive(faces.size(), 1);
    for (int i = 0; i < n; ++i) {
        if (i == 0 || i == i1 || i == i2 || i == i3) continue;
        std::set<std::pair<int, int>> edges;
        std::vector<int> visible;
        for (size_t f = 0; f < faces.size(); ++f) {
            if (!alive[f]) continue;
            const auto& [a, b, c] = faces[f];
            if (triple(sub(p[b], p[a]), sub(p[c], p[a]), sub(p[i], p[a])) > 0) {
                visible.push_back(static_cast<int>(f));
                edges.insert({a, b});
                edges.insert({b, c});
                edges.insert({c, a});
            }
        }
        if (visible.empty()) continue;  // inside: cannot happen for distinct points on a sphere
        for (int f : visible) alive[f] = 0;
        for (const auto& [a, b] : edges)
            if (!edges.count({b, a})) {
                faces.push_back({a, b, i});
                alive.push_back(1);
            }
    }
    std::vector<std::array<int, 3>> kept;
    for (size_t f = 0; f < faces.size(); ++f)
        if (alive[f]) kept.push_back(faces[f]);
    return kept;
}

}  // namespace

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
    faces_ = sphereHull(jittered);
    if (faces_.empty()) {
        error_ = "the directions lie in one plane";
        return;
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

SphereInterpolator::Stencil SphereInterpolator::locate(const Direction& d) const {
    // The triangle whose three edge planes hold d on their inner side; with
    // rounding, the one that holds it best.
    double bestMargin = -1e300;
    Stencil best{};
    for (const auto& face : faces_) {
        const Direction& a = points_[face[0]];
        const Direction& b = points_[face[1]];
        const Direction& c = points_[face[2]];
        const double wa = triple(b, c, d), wb = triple(c, a, d), wc = triple(a, b, d);
        const double sum = wa + wb + wc;
        if (!(sum > 0)) continue;
        const double margin = std::min({wa, wb, wc}) / sum;
        if (margin > bestMargin) {
            bestMargin = margin;
            const double ca = std::max(wa, 0.0), cb = std::max(wb, 0.0), cc = std::max(wc, 0.0);
            const double s = ca + cb + cc;
            best = {{face[0], face[1], face[2]}, {ca / s, cb / s, cc / s}};
            if (margin >= 0) break;
        }
    }
    return best;
}

ResampleResult resampleToGrid(const std::vector<Direction>& directions, const std::vector<BandEnergies>& energies) {
    using namespace acoustics;
    ResampleResult result;
    // Merge repeats of one direction (a pole measured at every azimuth).
    std::vector<Direction> unique;
    std::vector<BandEnergies> merged;
    std::vector<int> count;
    const double sameCos = std::cos(kSameDirectionRad);
    for (size_t i = 0; i < directions.size(); ++i) {
        const Direction d = normalised(directions[i]);
        size_t j = 0;
        while (j < unique.size() && dot(unique[j], d) < sameCos) ++j;
        if (j == unique.size()) {
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
    auto energyAt = [&](const Direction& d) {
        const SphereInterpolator::Stencil s = interpolator.locate(d);
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
