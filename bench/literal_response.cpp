#include "bench/literal_response.h"

#include <cmath>

#include "geometry/rotation.h"

namespace bench {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kCentresHz[21] = {100,  125,  160,  200,  250,  315,  400,  500,  630,  800, 1000,
                                  1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};

float balloonValue(const float* balloon, int band, int meridian, int polar) {
    return balloon[band * 2664 + meridian * 37 + polar];
}

}  // namespace

void literalResponse(const plugin::PluginState& state, const plugin::Instance& instance, int cellIndex,
                     float* levelsDb, float* phasesDeg, float* timeS) {
    const models::ModelDefinition& model = state.model;
    const plugin::Cell& cell = instance.cells[cellIndex];

    // The cell's orientation, rebuilt from its degrees.
    const geometry::EulerAngles angles = geometry::EulerAngles::fromDegrees(
        cell.angles.degrees(0), cell.angles.degrees(1), cell.angles.degrees(2));
    geometry::Vector3 v = instance.seatPosition;
    v -= cell.position;
    v = geometry::inverseRotate(v, angles, model.angles.order);

    const float rho = std::sqrt(v.x * v.x + v.z * v.z);
    float theta;
    if (rho != 0.0f) {
        theta = float(90.0 + std::atan(double(v.y) / rho) * 180.0 / kPi);
    } else {
        theta = v.y > 0.0f ? 180.0f : 0.0f;
    }
    float phi = float(std::atan2(-double(v.x), double(v.z)) * 180.0 / kPi);
    if (phi < 0.0f) phi += 360.0f;

    const float d = geometry::distance(instance.seatPosition, instance.arrayPosition);
    const float length =
        geometry::distance(instance.cells[0].position, instance.cells[instance.cellCount - 1].position);
    const int kind = cell.kind;

    for (int i = 0; i < 21; ++i) {
        const float a = phi / 5.0f;
        const float b = theta / 5.0f;
        int m0 = int(std::floor(a)), m1 = int(std::ceil(a));
        float wm0 = std::fabs(a - float(m1)), wm1 = std::fabs(a - float(m0));
        if (wm0 + wm1 == 0.0f) wm0 = wm1 = 0.5f;
        if (m0 == 72) m0 = 0;
        if (m1 == 72) m1 = 0;
        int p0 = int(std::floor(b)), p1 = int(std::ceil(b));
        float wp0 = std::fabs(b - float(p1)), wp1 = std::fabs(b - float(p0));
        if (wp0 + wp1 == 0.0f) wp0 = wp1 = 0.5f;
        if (p1 > 36) p1 = 36;
        if (p0 < 0) p0 = 0;

        const float* balloon = model.acoustic.balloonDb[kind];
        const float directional =
            wp1 * (wm0 * balloonValue(balloon, i, m0, p1) + wm1 * balloonValue(balloon, i, m1, p1)) +
            wp0 * (wm0 * balloonValue(balloon, i, m0, p0) + wm1 * balloonValue(balloon, i, m1, p0));
        float s = directional + model.acoustic.onAxisLevelDb[kind][i] + instance.filterGainDb[i];
        if (!state.flags.absorptionDisabled()) s -= d * state.room.airAbsorptionDbPerM[i];

        float transition = length * (kCentresHz[i] * length) / 700.0f;
        if (transition < 1.0f) transition = 1.0f;
        float loss = 0.0f;
        if (d > 1.0f) {
            if (d < transition) {
                loss = 10.0f * std::log10(d);
            } else {
                loss = 20.0f * std::log10(d) - 10.0f * std::log10(transition);
            }
        }
        const float level = s - loss;
        levelsDb[i] = level > 0.0f ? level : 0.0f;
        phasesDeg[i] = instance.filterPhaseDeg[i];
    }
    *timeS = d / state.room.speedOfSoundMPerS;
}

}  // namespace bench
