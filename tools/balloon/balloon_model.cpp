#include "tools/balloon/balloon_model.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "acoustics/balloon_analysis.h"
#include "acoustics/bands.h"
#include "models/ktr4.h"
#include "models/qspan.h"

namespace balloon {

namespace {

using acoustics::kBalloonBandStride;
using acoustics::kGridStepDeg;
using acoustics::kMeridianCount;
using acoustics::kPolarCount;

constexpr double kPi = 3.141592653589793;
constexpr double kSpeedOfSoundMPerS = 343.0;
constexpr int kBandSlices = 24;          // frequencies averaged across a third octave

// Exact at the quarter turns, so that the rear row meets in one point.
double sinDeg(int deg) {
    switch (((deg % 360) + 360) % 360) {
    case 0:
    case 180: return 0.0;
    case 90: return 1.0;
    case 270: return -1.0;
    default: return std::sin(deg * kPi / 180.0);
    }
}
double cosDeg(int deg) { return sinDeg(deg + 90); }

// A direction in the cabinet's frame: forward along the axis, up, and sideways.
struct Direction {
    double forward;
    double up;
    double side;
};

Direction nodeDirection(int meridianDeg, int polarDeg) {
    const double s = sinDeg(polarDeg);
    return {cosDeg(polarDeg), s * cosDeg(meridianDeg), s * sinDeg(meridianDeg)};
}

// Power of a line source of height h at vertical component up, averaged over
// the third-octave band around fHz: the average fills the nulls, as a band
// measurement does.
double linePower(double up, double heightM, double fHz) {
    double sum = 0.0;
    for (int i = 0; i < kBandSlices; ++i) {
        const double octaves = ((i + 0.5) / kBandSlices - 0.5) / 3.0;
        const double x = kPi * fHz * std::exp2(octaves) * heightM * up / kSpeedOfSoundMPerS;
        const double sinc = x == 0.0 ? 1.0 : std::sin(x) / x;
        sum += sinc * sinc;
    }
    return sum / kBandSlices;
}

// One band of the model, ready to evaluate at any direction.
class BandModel {
public:
    BandModel(double fHz, const BandShape& shape) : fHz_(fHz), s_(shape) {
        // The beam is silent straight behind, so the diffuse part alone sets
        // the rear level: rear / (1 + diffuse on axis) = 10^(rearDb / 10).
        const double rear = std::pow(10.0, s_.rearDb / 10.0);
        rise_ = std::pow(10.0, s_.diffuseRiseDb / 10.0) - 1.0;
        diffuseRear_ = rear / (1.0 - rear * (1.0 + rise_));
        axisPower_ = power({1.0, 0.0, 0.0});
    }

    double levelDb(const Direction& d) const { return 10.0 * std::log10(power(d) / axisPower_); }

private:
    double horizontalDb(const Direction& d) const {
        const double planar = d.forward * d.forward + d.side * d.side;
        if (planar == 0.0) return 0.0;  // straight up or down: no horizontal angle
        const double u = 0.5 * (1.0 - d.forward / std::sqrt(planar));
        const double beam = -6.0 * std::pow(u / s_.hornWidthU, s_.hornExponent);
        // A gentle off-axis rise, flat at the axis, largest at bulgeU.
        const double r = u / s_.bulgeU;
        const double bulge = s_.bulgeDb == 0.0 ? 0.0 : s_.bulgeDb * r * r * std::exp(2.0 * (1.0 - r));
        return beam + bulge;
    }

    double beamPower(const Direction& d) const {
        const double vertical = (1.0 - s_.lineSpill) * linePower(d.up, s_.lineHeightM, fHz_) +
                                s_.lineSpill * (1.0 - d.up * d.up);
        // The horizontal pattern belongs to the horizontal plane and fades
        // toward straight up and down, where it has no angle to act on.
        const double inPlane = std::pow(1.0 - d.up * d.up, s_.planeCoupling);
        // The cabinet body shadows everything that turns away from the front.
        const double shadow = std::pow(0.5 * (1.0 + d.forward), s_.shadowExponent);
        // Between the planes a rectangular mouth radiates more or less than
        // either plane suggests; this term vanishes in both planes.
        const double corner = s_.cornerDb == 0.0 ? 0.0 : s_.cornerDb * 4.0 * d.up * d.up * d.side * d.side /
                                                         std::max(1e-300, d.up * d.up + d.side * d.side);
        return vertical * std::pow(10.0, (inPlane * horizontalDb(d) + corner) / 10.0) * shadow;
    }

    double power(const Direction& d) const {
        const double front = 0.5 * (1.0 + d.forward);
        const double diffuse = diffuseRear_ * (1.0 + rise_ * front * front);
        return beamPower(d) + diffuse;
    }

    double fHz_;
    BandShape s_;
    double rise_ = 0.0;
    double diffuseRear_ = 0.0;
    double axisPower_ = 1.0;
};

// Fills one band block; meridians past 180 degrees mirror those before.
void fillBand(const BandModel& model, float* block) {
    for (int m = 0; m <= kMeridianCount / 2; ++m) {
        for (int p = 0; p < kPolarCount; ++p) {
            const float level = p == 0 ? 0.0f
                                       : static_cast<float>(model.levelDb(nodeDirection(m * kGridStepDeg,
                                                                                         p * kGridStepDeg)));
            block[m * kPolarCount + p] = level + 0.0f;
        }
    }
    for (int m = kMeridianCount / 2 + 1; m < kMeridianCount; ++m) {
        std::copy_n(block + acoustics::mirroredMeridian(m) * kPolarCount, kPolarCount, block + m * kPolarCount);
    }
}

}  // namespace

// ---- Calibration ----

namespace {

// The physical shape of a band before calibration. apertureScale stretches
// the cabinet's electrical size: the band behaves as the unscaled cabinet
// would at apertureScale times the frequency.
BandShape physicalShape(const BalloonRecipe& recipe, int band, double apertureScale) {
    const double sizeHz = apertureScale * acoustics::bandCentreHz(band);
    const double controlHz = kSpeedOfSoundMPerS / recipe.cabinetWidthM;
    const double halfAngleDeg = band >= recipe.upperFromBand ? recipe.upperHornHalfAngleDeg : recipe.hornHalfAngleDeg;
    const double coverageU = std::pow(std::sin(halfAngleDeg * kPi / 360.0), 2);
    const double octavesAbove100Hz = std::log2(sizeHz / 100.0);
    BandShape s{};
    s.lineHeightM = apertureScale * recipe.frontHeightM;
    s.lineSpill = 0.01;
    // Below the control frequency the horn loses its grip and the beam widens
    // toward the whole sphere.
    s.hornWidthU = coverageU + (1.0 - coverageU) / (1.0 + (sizeHz / controlHz) * (sizeHz / controlHz));
    s.hornExponent = 1.1;
    s.bulgeDb = 0.0;
    s.bulgeU = 0.05;
    // The cabinet shadows the rear more as the wavelength shrinks.
    s.rearDb = std::min(-1.5, recipe.rearAt100HzDb + recipe.rearDbPerOctave * octavesAbove100Hz);
    // Diffuse radiation rises 6 dB toward the front, but stays 3 dB under the
    // beam on axis.
    s.diffuseRiseDb = std::max(0.0, std::min(6.0, -3.0 - s.rearDb));
    s.shadowExponent = std::max(0.2, 0.5 + 1.5 * octavesAbove100Hz / std::log2(100.0));
    s.planeCoupling = 1.0;
    s.cornerDb = 0.0;
    return s;
}

enum class Unknown { LineHeight, ShadowExponent, HornWidth, HornExponent, BulgeLevel, BulgeAngle };
enum class DirectivityKnob { ApertureScale, HornWidth, CornerLevel };

bool inVerticalPlane(const QuotedNode& n) { return n.meridianDeg % 180 == 0; }
bool inHorizontalPlane(const QuotedNode& n) { return n.meridianDeg % 180 == 90; }

// Euclidean norm; anything not finite counts as infinitely far.
double norm(const std::vector<double>& r) {
    double sum = 0.0;
    for (double v : r) sum += v * v;
    return std::isfinite(sum) ? std::sqrt(sum) : INFINITY;
}

// Gaussian elimination with partial pivoting; the systems are at most 4 x 4.
std::vector<double> solveLinear(std::vector<double> a, std::vector<double> b) {
    const std::size_t n = b.size();
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t row = col + 1; row < n; ++row)
            if (std::fabs(a[row * n + col]) > std::fabs(a[pivot * n + col])) pivot = row;
        for (std::size_t k = 0; k < n; ++k) std::swap(a[col * n + k], a[pivot * n + k]);
        std::swap(b[col], b[pivot]);
        for (std::size_t row = col + 1; row < n; ++row) {
            const double factor = a[row * n + col] / a[col * n + col];
            for (std::size_t k = col; k < n; ++k) a[row * n + k] -= factor * a[col * n + k];
            b[row] -= factor * b[col];
        }
    }
    std::vector<double> x(n);
    for (std::size_t i = n; i-- > 0;) {
        double sum = b[i];
        for (std::size_t k = i + 1; k < n; ++k) sum -= a[i * n + k] * x[k];
        x[i] = sum / a[i * n + i];
    }
    return x;
}

// Fits one band: the quoted nodes of the band are met exactly by solving the
// shape parameters they depend on, and the directivity factor by bisection on
// one more parameter (the aperture, or where both planes are quoted, how fast
// the horizontal pattern fades between the planes).
class BandCalibration {
public:
    BandCalibration(const BalloonRecipe& recipe, int band) : recipe_(recipe), band_(band) {
        bool verticalQuoted = false;
        bool horizontalQuoted = false;
        for (const QuotedNode& node : recipe.quotedNodes) {
            if (node.band != band || node.polarDeg == 0) continue;
            if (node.polarDeg == 180) {
                rearDb_ = node.levelDb;  // the model meets the rear level by construction
                continue;
            }
            if (!inVerticalPlane(node) && !inHorizontalPlane(node)) continue;  // the model has no handle there
            pins_.push_back(node);
            if (inVerticalPlane(node)) {
                // At 90 degrees the line is in its null; the cabinet shadow sets the level.
                unknowns_.push_back(node.polarDeg == 90 ? Unknown::ShadowExponent : Unknown::LineHeight);
                verticalQuoted = verticalQuoted || node.polarDeg != 90;
            } else if (node.levelDb > 0.0f) {
                unknowns_.push_back(Unknown::BulgeLevel);
            } else {
                unknowns_.push_back(horizontalQuoted ? Unknown::HornExponent : Unknown::HornWidth);
                horizontalQuoted = true;
            }
        }
        // The band that holds the balloon's largest value: the off-axis rise
        // reaches it exactly at its highest node.
        if (recipe.peakBand == band) {
            peakDb_ = recipe.peakDb;
            unknowns_.push_back(Unknown::BulgeAngle);
        }
        // The aperture sets Q where the band is free; where the vertical plane
        // is quoted the horn width does; the level between the planes is the
        // last resort.
        const bool verticalPinned = verticalQuoted || std::count(unknowns_.begin(), unknowns_.end(), Unknown::ShadowExponent);
        if (!verticalPinned) knobs_.push_back(DirectivityKnob::ApertureScale);
        if (verticalPinned && !horizontalQuoted) knobs_.push_back(DirectivityKnob::HornWidth);
        knobs_.push_back(DirectivityKnob::CornerLevel);
        const BandShape start = physicalShape(recipe, band, 1.0);
        for (Unknown u : unknowns_) x_.push_back(initial(u, start));
    }

    // Tries each knob the band leaves free, in order, and keeps the first
    // that can reach the published Q; if none can, the closest end.
    BandShape solve() {
        double bestError = INFINITY;
        DirectivityKnob bestKnob = knobs_.front();
        double bestSetting = 0.0;
        for (DirectivityKnob knob : knobs_) {
            knob_ = knob;
            // Q rises with the aperture (searched as its logarithm) and falls
            // as the directions between the planes grow louder (in dB).
            double low = knob == DirectivityKnob::CornerLevel ? -20.0 : std::log(1.0 / 16.0);
            double high = knob == DirectivityKnob::CornerLevel ? 20.0 : std::log(16.0);
            const double sign = knob == DirectivityKnob::CornerLevel ? -1.0 : 1.0;
            const double atLow = sign * directivityError(low);
            const double atHigh = sign * directivityError(high);
            if (atLow <= 0.0 && atHigh >= 0.0) {
                for (int i = 0; i < 64; ++i) {
                    const double mid = 0.5 * (low + high);
                    (sign * directivityError(mid) < 0.0 ? low : high) = mid;
                }
                bracketed_ = true;
                const double setting = 0.5 * (low + high);
                directivityError(setting);
                return shape(setting, x_);
            }
            for (const auto& [setting, error] : {std::pair{low, atLow}, std::pair{high, atHigh}}) {
                if (std::fabs(error) < bestError) {
                    bestError = std::fabs(error);
                    bestKnob = knob;
                    bestSetting = setting;
                }
            }
        }
        bracketed_ = false;
        knob_ = bestKnob;
        directivityError(bestSetting);
        return shape(bestSetting, x_);
    }

    bool bracketed() const { return bracketed_; }
    double pinError() const { return pinError_; }

private:
    static double initial(Unknown u, const BandShape& s) {
        switch (u) {
        case Unknown::LineHeight: return std::log(s.lineHeightM);
        case Unknown::ShadowExponent: return std::log(s.shadowExponent);
        case Unknown::HornWidth: return std::log(s.hornWidthU);
        case Unknown::HornExponent: return std::log(s.hornExponent);
        case Unknown::BulgeLevel: return 0.3;
        case Unknown::BulgeAngle: return std::log(s.bulgeU);
        }
        return 0.0;
    }

    BandShape shape(double logKnob, const std::vector<double>& x) const {
        BandShape s = physicalShape(recipe_, band_, knob_ == DirectivityKnob::ApertureScale ? std::exp(logKnob) : 1.0);
        if (knob_ == DirectivityKnob::HornWidth) s.hornWidthU /= std::exp(logKnob);
        if (knob_ == DirectivityKnob::CornerLevel) s.cornerDb = logKnob;
        if (rearDb_) s.rearDb = *rearDb_;
        for (std::size_t i = 0; i < x.size(); ++i) {
            switch (unknowns_[i]) {
            case Unknown::LineHeight: s.lineHeightM = std::exp(x[i]); break;
            case Unknown::ShadowExponent: s.shadowExponent = std::exp(x[i]); break;
            case Unknown::HornWidth: s.hornWidthU = std::exp(x[i]); break;
            case Unknown::HornExponent: s.hornExponent = std::exp(x[i]); break;
            case Unknown::BulgeLevel: s.bulgeDb = x[i]; break;
            case Unknown::BulgeAngle: s.bulgeU = std::min(0.5, std::exp(x[i])); break;
            }
        }
        return s;
    }

    std::vector<double> pinResiduals(double logKnob, const std::vector<double>& x) const {
        const BandModel model(acoustics::bandCentreHz(band_), shape(logKnob, x));
        std::vector<double> r;
        for (const QuotedNode& pin : pins_)
            r.push_back(model.levelDb(nodeDirection(pin.meridianDeg, pin.polarDeg)) - pin.levelDb);
        if (peakDb_) {
            double highest = -INFINITY;
            for (int m = 0; m <= kMeridianCount / 2; ++m)
                for (int p = 1; p < kPolarCount; ++p)
                    highest = std::max(highest, model.levelDb(nodeDirection(m * kGridStepDeg, p * kGridStepDeg)));
            r.push_back(highest - *peakDb_);
        }
        return r;
    }

    // Newton's method on the pinned parameters, from the physical shape, with
    // steps limited so that no parameter runs off while far from the answer.
    void solvePins(double logKnob) {
        const BandShape start = physicalShape(recipe_, band_, 1.0);
        for (std::size_t i = 0; i < unknowns_.size(); ++i) x_[i] = initial(unknowns_[i], start);
        std::vector<double> r = pinResiduals(logKnob, x_);
        for (int iteration = 0; iteration < 80 && norm(r) > 1e-13; ++iteration) {
            const std::size_t n = x_.size();
            std::vector<double> jacobian(n * n);
            for (std::size_t j = 0; j < n; ++j) {
                std::vector<double> xs = x_;
                xs[j] += 1e-7;
                const std::vector<double> rs = pinResiduals(logKnob, xs);
                for (std::size_t i = 0; i < n; ++i) jacobian[i * n + j] = (rs[i] - r[i]) / 1e-7;
            }
            std::vector<double> dx = solveLinear(jacobian, r);
            double longest = 0.0;
            for (double d : dx) longest = std::max(longest, std::fabs(d));
            if (!(longest < 1e300)) break;
            const double limit = longest > 0.5 ? 0.5 / longest : 1.0;
            double step = limit;
            bool improved = false;
            for (int tries = 0; tries < 30 && !improved; ++tries, step *= 0.5) {
                std::vector<double> xt = x_;
                for (std::size_t j = 0; j < n; ++j) xt[j] -= step * dx[j];
                const std::vector<double> rt = pinResiduals(logKnob, xt);
                if (norm(rt) < norm(r)) {
                    x_ = xt;
                    r = rt;
                    improved = true;
                }
            }
            if (!improved) break;
        }
        pinError_ = norm(r);
    }

    // log of the band's Q over the published factor, after meeting the pins.
    double directivityError(double logKnob) {
        if (!x_.empty()) solvePins(logKnob);
        float block[kBalloonBandStride];
        fillBand(BandModel(acoustics::bandCentreHz(band_), shape(logKnob, x_)), block);
        return std::log(acoustics::directivityFactor(block) / recipe_.directivityFactor[band_]);
    }

    const BalloonRecipe& recipe_;
    int band_;
    std::optional<double> rearDb_;
    std::optional<double> peakDb_;
    std::vector<QuotedNode> pins_;
    std::vector<Unknown> unknowns_;
    std::vector<double> x_;
    std::vector<DirectivityKnob> knobs_;
    DirectivityKnob knob_ = DirectivityKnob::ApertureScale;
    bool bracketed_ = true;
    double pinError_ = 0.0;
};

}  // namespace

GeneratedBalloon generateBalloon(const BalloonRecipe& recipe) {
    GeneratedBalloon out;
    out.values.assign(acoustics::kBalloonValueCount, 0.0f);
    for (int band = 0; band < models::kBandCount; ++band) {
        BandCalibration calibration(recipe, band);
        out.shapes[band] = calibration.solve();
        out.pinError[band] = calibration.pinError();
        out.directivityBracketed[band] = calibration.bracketed();
        fillBand(BandModel(acoustics::bandCentreHz(band), out.shapes[band]),
                 out.values.data() + band * kBalloonBandStride);
    }
    return out;
}

// Read as constants only: the generator must not pull in the model records,
// which point at the balloons it makes.
constexpr double kKtrWidthM = models::kKtr4.cabinet.widthM;
constexpr double kKtrFrontHeightM = models::kKtr4.cabinet.frontHeightM;
constexpr double kQspanWidthM = models::kQspan.cabinet.widthM;
constexpr double kQspanFrontHeightM = models::kQspan.cabinet.frontHeightM;

std::vector<BalloonRecipe> productRecipes() {
    // Quoted nodes: band index, meridian, polar angle, level.
    BalloonRecipe ktr{
        .name = "KTR",
        .cabinetWidthM = kKtrWidthM,
        .frontHeightM = kKtrFrontHeightM,
        .hornHalfAngleDeg = 55.0,
        .upperFromBand = 13,
        .upperHornHalfAngleDeg = 55.0,
        .rearAt100HzDb = -6.0,
        .rearDbPerOctave = -7.0,
        .directivityFactor = {},
        .quotedNodes = {{0, 90, 10, 0.1442f},
                        {5, 180, 90, -8.9922f},
                        {10, 0, 30, -4.9092f},
                        {10, 90, 30, -1.9076f},
                        {10, 0, 90, -25.5754f},
                        {10, 90, 90, -16.6060f},
                        {15, 270, 45, -2.5413f},
                        {20, 0, 180, -48.6174f}},
        .peakBand = 0,
        .peakDb = 0.4617f,
    };
    std::copy_n(models::kKtrDirectivityFactor, 21, ktr.directivityFactor.begin());

    std::vector<BalloonRecipe> recipes{ktr};
    const double upperHalfAngleDeg[3] = {35.0, 48.0, 58.0};
    const float band16Level[3] = {-8.9946f, -4.1710f, -2.9149f};
    const float band21RearLevel[3] = {-39.5043f, -39.5042f, -39.5042f};
    const char* const kindName[3] = {"QSA", "QSB", "QSC"};
    for (int kind = 0; kind < 3; ++kind) {
        BalloonRecipe q{
            .name = kindName[kind],
            .cabinetWidthM = kQspanWidthM,
            .frontHeightM = kQspanFrontHeightM,
            .hornHalfAngleDeg = 50.0,
            .upperFromBand = 13,
            .upperHornHalfAngleDeg = upperHalfAngleDeg[kind],
            .rearAt100HzDb = -6.0,
            .rearDbPerOctave = -5.0,
            .directivityFactor = {},
            .quotedNodes = {{0, 90, 10, 0.0961f},
                            {5, 180, 90, -5.2189f},
                            {10, 0, 30, -1.6557f},
                            {10, 90, 30, -1.4605f},
                            {10, 0, 90, -11.2335f},
                            {10, 90, 90, -16.5867f},
                            {15, 270, 45, band16Level[kind]},
                            {20, 0, 180, band21RearLevel[kind]}},
            .peakBand = 0,
            .peakDb = 1.353f,
        };
        std::copy_n(models::kQspanDirectivityFactor[kind], 21, q.directivityFactor.begin());
        recipes.push_back(q);
    }
    return recipes;
}

}  // namespace balloon
