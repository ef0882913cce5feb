#include "tools/arrayhost/report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace arrayhost {

namespace {

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string levelText(double db) {
    if (std::isnan(db)) return format("%7s", "NaN");
    return db <= -99.95 ? format("%7s", "<-99.9") : format("%7.1f", db);
}

}  // namespace

std::string formatRate(double perSecond) {
    if (perSecond >= 1e6) return format("%.2f M/s", perSecond / 1e6);
    if (perSecond >= 1e3) return format("%.0f k/s", perSecond / 1e3);
    return format("%.0f /s", perSecond);
}

std::string formatDescriptors(const Descriptors& d, const std::string& libraryPath) {
    std::string out = "Plug-in " + libraryPath + "\n";
    out += "  name             " + d.name + "\n";
    out += "  manufacturer     " + d.manufacturer + "\n";
    out += format("  version          %d (class %d)\n", d.version, d.pluginClass);
    out += format("  valid bands      %d of %d\n", d.validBands, kBandCount);
    out += "  data resolution  " + d.dataResolution + "\n";
    for (const auto& p : d.inputs) {
        out += format("  input %d          %s (id %d, type %d)\n", p.index, p.label.c_str(), p.id, p.type);
    }
    for (const auto& p : d.rooms) {
        out += format("  room %d           %s (id %d, type %d): default %g, %g to %g\n", p.index, p.label.c_str(),
                      p.id, p.type, double(p.defaultValue), double(p.minimum), double(p.maximum));
    }
    return out;
}

std::string formatSetup(const Scenario& s, const std::vector<CellPose>& poses) {
    std::string out = format("Room: speed of sound %g m/s, humidity %g %%, air absorption %s (flag 1 = %d)\n",
                             s.speedOfSoundMPerS, s.humidityPercent, s.airAbsorption ? "on" : "off",
                             s.airAbsorption ? 0 : 1);
    out += format("Array: %d cells at (%.2f, %.2f, %.2f) m, angles (%.1f, %.1f, %.1f) deg, %s\n", s.cellCount(),
                  s.arrayPositionM.x, s.arrayPositionM.y, s.arrayPositionM.z, s.arrayAnglesDeg.x,
                  s.arrayAnglesDeg.y, s.arrayAnglesDeg.z, s.filter ? "filter set" : "no filter");
    out += "  cell  kind  splay       x       y       z      a1      a2      a3\n";
    for (size_t i = 0; i < poses.size(); ++i) {
        const char* kind = s.kinds.empty() ? "-" : kCabinetKindNames[s.kinds[i]];
        const double splay = i < s.splaysDeg.size() ? s.splaysDeg[i] : 0.0;
        const CellPose& p = poses[i];
        out += format("  %4zu  %4s  %5.1f  %6.3f  %6.3f  %6.3f  %6.2f  %6.2f  %6.2f\n", i + 1, kind, splay,
                      p.positionM.x, p.positionM.y, p.positionM.z, p.anglesDeg.x, p.anglesDeg.y, p.anglesDeg.z);
    }
    return out;
}

std::string formatSeat(const SeatResult& seat, double speedOfSoundMPerS) {
    const int cells = int(seat.cells.size());
    std::string out = format("Seat (%.2f, %.2f, %.2f) m: %.2f m from the array position; CI_GetCompFR's time %.2f ms\n",
                             seat.seatM.x, seat.seatM.y, seat.seatM.z, double(seat.arrayDistanceM),
                             cells > 0 ? 1000.0 * seat.cells[0].reportedTimeS : 0.0);
    out += "Levels at the seat, dB: per cell as the plug-in reports them; the array as point sources (cells),\n"
           "and two views of how a host might add the plug-in's levels (power, interface-coherent)\n";
    out += "     band";
    for (int c = 1; c <= cells; ++c) out += format("%7d", c);
    out += " |   cells |   power  interface-coherent\n";
    auto sumsRow = [&](double cellsDb, double powerDb, double coherentDb) {
        return " | " + levelText(cellsDb) + " | " + levelText(powerDb) + format("  %18s", levelText(coherentDb).c_str()) +
               "\n";
    };
    const SeatSums& sums = seat.sums;
    for (int band = 0; band < kBandCount; ++band) {
        out += format("%9s", bandLabel(band).c_str());
        for (const CellResponse& r : seat.cells) out += levelText(r.levelsDb[band]);
        out += sumsRow(sums.bandsDb(CellSum::Cells)[band], sums.bandsDb(CellSum::Power)[band],
                       sums.bandsDb(CellSum::InterfaceCoherent)[band]);
    }
    out += "    dB(A)";
    for (const CellResponse& r : seat.cells) {
        BandValues levels{};
        for (int band = 0; band < kBandCount; ++band) levels[band] = r.levelsDb[band];
        out += levelText(aWeightedDb(levels));
    }
    out += sumsRow(aWeightedDb(sums.bandsDb(CellSum::Cells)), aWeightedDb(sums.bandsDb(CellSum::Power)),
                   aWeightedDb(sums.bandsDb(CellSum::InterfaceCoherent)));
    out += "   path m";
    for (const CellResponse& r : seat.cells) out += format("%7.2f", double(r.pathM));
    out += "\n   ms    ";
    for (const CellResponse& r : seat.cells) out += format("%7.2f", 1000.0 * r.pathM / speedOfSoundMPerS);
    out += "\n";
    bool nan = false;
    for (const CellResponse& r : seat.cells) {
        for (float l : r.levelsDb) nan = nan || std::isnan(l);
    }
    if (nan) out += "NaN: the plug-in answered levels that are not a number; every sum they enter is NaN too.\n";
    out += "cells: every cell a point source. The plug-in's level has its distance law taken back off (no loss\n"
           "within 1 m of the array position, 3 dB per doubling up to the transition distance L^2 f / 700, 6 dB\n"
           "beyond) with the air absorption over that distance; then 1/r and the air absorption over the cell's\n"
           "own path r (CI_GetCompDistance, row `path m`), and the pressures added with phase = reported filter\n"
           "phase - 2 pi f r / c, c the speed of sound. The near field of the line comes out of this sum.\n"
           "How the host program adds the cells is not known. Two candidate host views of the plug-in's levels as\n"
           "they stand: power, 10 log10 of the summed 10^(L/10); interface-coherent, the same levels added with\n"
           "the path phases, which counts the array's gain twice (once in the plug-in's law, once in the sum).\n"
           "CI_GetCompFR reports one propagation time per array, from the array position, which cannot tell the\n"
           "cells apart. dB(A): energy sum of the 21 band levels after A-weighting.\n";
    return out;
}

std::string formatCoverage(const CoverageMap& map, const SweepTiming& timing, CellSum sum) {
    const AudiencePlane& p = map.plane();
    std::string out = format("Audience plane: x %g to %g m, y %g to %g m, at %g m; grid %g m, %d x %d seats\n",
                             p.xMinM, p.xMaxM, p.yMinM, p.yMaxM, p.heightM, p.resolutionM, p.columns(), p.rows());
    out += format("Sweep: %ld seats x %ld cells = %ld responses in %.3f s: %s overall; %.3f s in the plug-in's "
                  "exports: %s; the sweep took %.1f times that\n",
                  timing.seats, timing.seats > 0 ? timing.responses / timing.seats : 0, timing.responses,
                  timing.seconds, formatRate(timing.seconds > 0 ? timing.responses / timing.seconds : 0).c_str(),
                  timing.pluginSeconds,
                  formatRate(timing.pluginSeconds > 0 ? timing.responses / timing.pluginSeconds : 0).c_str(),
                  timing.pluginSeconds > 0 ? timing.seconds / timing.pluginSeconds : 0.0);
    out += format("Maps (%s sum%s): loudest and quietest seat\n", cellSumName(sum),
                  sum == CellSum::Cells ? ", every cell a point source"
                  : sum == CellSum::Power ? ", a host view: the plug-in's levels by energy"
                                          : ", a host view that counts the array's gain twice");
    auto line = [&](const std::string& name, int layer, const char* unit) {
        const auto hi = map.loudest(layer), lo = map.quietest(layer);
        const Vec3 a = p.point(hi.column, hi.row), b = p.point(lo.column, lo.row);
        out += format("  %-10s %6.1f %-5s at (%6.1f, %6.1f)   %6.1f %-5s at (%6.1f, %6.1f)\n", name.c_str(),
                      double(hi.levelDb), unit, a.x, a.y, double(lo.levelDb), unit, b.x, b.y);
        if (const long nan = map.notANumber(layer); nan > 0) {
            out += format("  %-10s NaN at %ld seats: the plug-in answered levels that are not a number (grey on "
                          "the map)\n", "", nan);
        }
    };
    for (size_t k = 0; k < map.bands().size(); ++k) line(bandLabel(map.bands()[k]), map.bandLayer(k, sum), "dB");
    line("broadband", map.broadbandLayer(sum), "dB(A)");
    return out;
}

}  // namespace arrayhost
