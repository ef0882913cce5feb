#include "tools/arrayhost/design_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "tools/arrayhost/progress.h"

namespace arrayhost {

namespace {

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Shortest text that reads back as the same single-precision splay.
std::string splayText(double v) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strchr(text, 'e') == nullptr && float(std::strtod(text, nullptr)) == float(v)) break;
    }
    return text;
}

// As the setup dialog shows the angles: one decimal.
std::string choiceText(const ArrayChoice& choice, bool withTilt) {
    std::string out = "splays";
    // Appended piece by piece: `" " + text` builds a temporary that GCC 12
    // wrongly reports as an overlapping copy (-Wrestrict).
    for (double s : choice.splaysDeg) out.append(" ").append(dialogAngleText(s));
    if (!choice.kinds.empty()) {
        out += "; kinds";
        for (int k : choice.kinds) out += std::string(" ") + kCabinetKindNames[k];
    }
    if (withTilt) out.append("; tilt ").append(dialogAngleText(choice.tiltDeg));
    return out;
}

std::string rangeLabel(int first, int last) { return bandLabel(first) + "-" + bandLabel(last); }

}  // namespace

int designExitStatus(const DesignResult& result) { return result.chosenEvenness.valid() ? 0 : 1; }

std::string slopeText(double v) {
    char text[16];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string formatDesign(const DesignResult& r, const DesignOptions& options, const Scenario& scenario,
                         const std::vector<Robustness>& robustness) {
    double nearM = HUGE_VAL, farM = 0;
    for (double d : r.chosenProfile.distanceM) nearM = std::min(nearM, d), farM = std::max(farM, d);
    std::string out = "Design along the audience line: " + std::to_string(r.seats) + " seats every " +
                      fixed(options.seatSpacingM, 2) + " m, " + fixed(nearM, 1) + " to " + fixed(farM, 1) +
                      " m from the array position";
    if (scenario.audienceWidthM > 0) {
        out += ", on the centre line and both edges of a " + fixed(scenario.audienceWidthM, 1) + " m wide audience";
    }
    out += ";\nthe cells added as point sources (the plug-in's distance law taken off each level, 1/r and air\n"
           "absorption over each cell's own path), band-averaged";
    if (options.robust) {
        out += "; each seat's level the energy mean over the nominal scene and the line " + fixed(kPerturbLineM, 2) +
               " m\nup, down, nearer and farther, the tilt " + fixed(kPerturbTiltDeg, 1) +
               " deg up and down, and the speed of sound " + fixed(100 * kPerturbSpeedOfSound, 0) +
               " % up and down";
    }
    out += ".\nTarget: " + fixed(options.slopeDbPerDoubling, 1) +
           " dB per doubling of that distance. Spread: the 90th minus the 10th percentile of the level's\n"
           "residual against the target. Objective: twice the broadband spread + 4 x the fitted slope's miss beyond " +
           fixed(kSlopeToleranceDb, 1) + " dB\nper doubling + mean + worst band spread, bands " +
           rangeLabel(options.firstBand, options.lastBand);
    if (scenario.avoidLine) {
        out += ",\n+ every dB the loudest point of avoid_line comes within " + fixed(kAvoidBelowAudienceDb, 0) +
               " dB of the audience's mean";
    }
    out += ".\n";
    if (options.freeOrder) {
        out += "Order: free (--free-order).\n";
    } else {
        out += "Order: progressive, splays never shrinking down the array";
        if (scenario.audienceLine->segments.size() > 1) out += " except at one joint, for the gap in the line";
        if (!r.chosen.kinds.empty()) out += "; kinds from the narrowest to the widest";
        out += ".\n";
    }
    out += "\n";
    const std::string designBands = rangeLabel(options.firstBand, options.lastBand);
    const std::string combBands = rangeLabel(kCombFirstBand, kCombLastBand);
    char line[320];
    std::snprintf(line, sizeof line, "  %-22s %9s %9s  %-17s  %-17s  %s\n", "", "objective", "broadband",
                  designBands.c_str(), combBands.c_str(), "fitted slope");
    out += line;
    std::snprintf(line, sizeof line, "  %-22s %9s %9s  %8s %8s  %8s %8s  %s\n", "", "dB", "dB(A)", "mean", "worst",
                  "mean", "worst", "dB/doubling");
    out += line;
    const bool withTilt = options.tiltRangeDeg.has_value() || scenario.topAngleDeg.has_value();
    struct Row {
        const char* name;
        const ArrayChoice& choice;
        const Evenness& e;
    };
    const Row rows[] = {{"scenario's own splays", r.scenario, r.scenarioEvenness},
                        {"best uniform splay", r.uniform, r.uniformEvenness},
                        {"PALC2", r.palc, r.palcEvenness},
                        {"chosen", r.chosen, r.chosenEvenness}};
    auto notMeasured = [&](const char* name, const Evenness& e) {
        std::snprintf(line, sizeof line,
                      "  %-22s not measured: the plug-in refused %ld calls and answered NaN at %ld seats\n", name,
                      e.refusedCalls, e.notANumberSeats);
        return std::string(line);
    };
    for (const Row& row : rows) {
        if (!row.e.valid()) {
            out += notMeasured(row.name, row.e);
            continue;
        }
        const auto comb = meanAndWorst(row.e.bandSpreadDb, kCombFirstBand, kCombLastBand);
        std::snprintf(line, sizeof line, "  %-22s %9.2f %9.2f  %8.2f %8.2f  %8.2f %8.2f  %+.2f\n", row.name,
                      row.e.objectiveDb, row.e.broadbandSpreadDb, row.e.meanBandSpreadDb, row.e.worstBandSpreadDb,
                      comb.first, comb.second, row.e.fittedSlopeDbPerDoubling);
        out += line;
    }
    if (options.robust) {
        out += "\nThe nominal scene alone (no averaging over the perturbations, the same seats):\n";
        std::snprintf(line, sizeof line, "  %-22s %9s %9s  %8s %8s  %8s %8s  %s\n", "", "", "broadband", "mean",
                      "worst", "mean", "worst", "slope");
        out += line;
        for (const Row& row : rows) {
            if (!row.e.valid()) {
                out += notMeasured(row.name, row.e);
                continue;
            }
            const Figures& n = row.e.nominal;
            const auto comb = meanAndWorst(n.bandSpreadDb, kCombFirstBand, kCombLastBand);
            std::snprintf(line, sizeof line, "  %-22s %9s %9.2f  %8.2f %8.2f  %8.2f %8.2f  %+.2f\n", row.name, "",
                          n.broadbandSpreadDb, n.meanBandSpreadDb, n.worstBandSpreadDb, comb.first, comb.second,
                          n.fittedSlopeDbPerDoubling);
            out += line;
        }
    }
    out += "\nThe chosen array in the two host views of the plug-in's levels. How the host program adds the\n"
           "cells is not known; a host that adds them these ways shows this (the interface-coherent view counts\n"
           "the array's gain twice, so a physically even array rises in it with distance):\n";
    for (const auto& [name, e] : {std::pair{"power", &r.chosenPowerView},
                                  std::pair{"interface-coherent", &r.chosenInterfaceView}}) {
        if (!e->valid()) {
            out += notMeasured(name, *e);
            continue;
        }
        const auto comb = meanAndWorst(e->bandSpreadDb, kCombFirstBand, kCombLastBand);
        std::snprintf(line, sizeof line, "  %-22s %9s %9.2f  %8.2f %8.2f  %8.2f %8.2f  %+.2f\n", name, "",
                      e->broadbandSpreadDb, e->meanBandSpreadDb, e->worstBandSpreadDb, comb.first, comb.second,
                      e->fittedSlopeDbPerDoubling);
        out += line;
    }
    if (robustness.size() == std::size(rows)) {
        out += "\nHow the figures hold: broadband and 1-8 kHz mean spread on a grid four times denser, and their\n"
               "range with the whole scene moved by each perturbation alone; the largest change from the figure\n"
               "above.\n";
        for (size_t i = 0; i < robustness.size(); ++i) {
            const Robustness& b = robustness[i];
            if (!b.measured) {
                std::snprintf(line, sizeof line, "  %-22s not measured\n", rows[i].name);
            } else {
                std::snprintf(line, sizeof line,
                              "  %-22s denser %5.2f %5.2f   moved %5.2f to %5.2f, %5.2f to %5.2f   largest change "
                              "%.2f (%s)\n",
                              rows[i].name, b.denseBroadbandDb, b.denseCombMeanDb, b.lowBroadbandDb,
                              b.highBroadbandDb, b.lowCombMeanDb, b.highCombMeanDb, b.worstShiftDb,
                              b.worstWhat.c_str());
            }
            out += line;
        }
    }
    if (scenario.avoidLine) {
        out += "\nSurfaces to avoid: their loudest point against the audience's mean level, dB(A) (aim: -" +
               fixed(kAvoidBelowAudienceDb, 0) + " or below)\n";
        for (const Row& row : rows) {
            if (!row.e.valid()) std::snprintf(line, sizeof line, "  %-22s not measured\n", row.name);
            else std::snprintf(line, sizeof line, "  %-22s %+6.1f\n", row.name, row.e.avoidAboveAudienceDb);
            out += line;
        }
    }
    out += "\nAngles as the setup dialog shows them:\n";
    for (const Row& row : rows) out += std::string("  ") + row.name + ": " + choiceText(row.choice, withTilt) + "\n";
    if (r.reversalJoint > 0) {
        out += "  The splay shrinks once, at cell " + std::to_string(r.reversalJoint + 1) +
               ": the one joint the gap in the line allows.\n";
    }
    out += "\nSpread per band, dB (scenario / uniform / PALC2 / chosen; last, the chosen array's point sources\n"
           "summed by power, its coverage without the cells' interference):\n";
    auto cell = [&](const Evenness& e, double v) { return e.valid() ? fixed(v, 2) : std::string("-"); };
    for (int b = std::min(options.firstBand, kCombFirstBand); b <= std::max(options.lastBand, kCombLastBand); ++b) {
        std::snprintf(line, sizeof line, "  %9s  %6s  %6s  %6s  %6s   %6s\n", bandLabel(b).c_str(),
                      cell(r.scenarioEvenness, r.scenarioEvenness.bandSpreadDb[size_t(b)]).c_str(),
                      cell(r.uniformEvenness, r.uniformEvenness.bandSpreadDb[size_t(b)]).c_str(),
                      cell(r.palcEvenness, r.palcEvenness.bandSpreadDb[size_t(b)]).c_str(),
                      cell(r.chosenEvenness, r.chosenEvenness.bandSpreadDb[size_t(b)]).c_str(),
                      cell(r.chosenEvenness, r.chosenEvenness.powerBandSpreadDb[size_t(b)]).c_str());
        out += line;
    }
    for (const Row& row : rows) {
        if (!row.e.valid()) out += std::string("  -: ") + row.name + " not measured\n";
    }
    out += "Search: " + std::to_string(r.evaluations) + " arrays evaluated in " + fixed(r.seconds, 2) + " s (" +
           scenario.plugin + ")\n";
    return out;
}

std::string designedScenarioText(const std::string& text, const Scenario& scenario, const ArrayChoice& choice,
                                 const std::vector<uint8_t>& blob, bool withTilt) {
    std::string splays = "splays =", kinds = "kinds =";
    for (double s : choice.splaysDeg) splays.append(" ").append(splayText(s));  // not `" " + text`: see choiceText
    for (int k : choice.kinds) kinds += std::string(" ") + kCabinetKindNames[k];
    const auto lineOf = [&](const char* key) {
        const auto it = scenario.keyLines.find(key);
        return it == scenario.keyLines.end() ? 0 : it->second;
    };
    const int splaysLine = lineOf("splays"), kindsLine = lineOf("kinds"), anglesLine = lineOf("array_angles");
    const std::string angles = "array_angles = " + splayText(scenario.arrayAnglesDeg.x) + " " +
                               splayText(choice.tiltDeg) + " " + splayText(scenario.arrayAnglesDeg.z);
    std::istringstream in(text);
    std::string out, raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (number == splaysLine) raw = splays;
        else if (number == kindsLine) raw = choice.kinds.empty() ? "" : kinds;
        else if (withTilt && number == anglesLine) raw = angles;
        out += raw + "\n";
    }
    if (splaysLine == 0) out += splays + "\n";
    if (kindsLine == 0 && !choice.kinds.empty()) out += kinds + "\n";
    if (withTilt && anglesLine == 0) out += angles + "\n";
    out += "# The setup blob of this array, as handed to IP_SetValue(1, ...):\n#";
    for (size_t i = 0; i < blob.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", blob[i]);
        out += hex;
        if (i % 16 == 15 && i + 1 < blob.size()) out += "\n#";
    }
    return out + "\n";
}

std::vector<ProfileCurve> profileCurves(const DesignResult& result, const DesignOptions& options) {
    struct Series {
        const char* label;
        int band;  // -1: broadband
        Rgb colour;
    };
    const Series series[] = {{"broadband", -1, {20, 20, 20}},
                             {"1 kHz", bandIndexOfHz(1000), {31, 119, 180}},
                             {"2 kHz", bandIndexOfHz(2000), {44, 160, 44}},
                             {"4 kHz", bandIndexOfHz(4000), {255, 127, 14}},
                             {"8 kHz", bandIndexOfHz(8000), {214, 39, 40}}};
    std::vector<ProfileCurve> curves;
    const LevelProfile& chosen = result.chosenProfile;
    ProfileCurve band{"chosen: perturbed", {184, 200, 232}, false, 1, chosen.distanceM, chosen.broadbandDbA,
                      chosen.segment, chosen.broadbandLowDbA, chosen.broadbandHighDbA};
    curves.push_back(band);
    ProfileCurve target{"target", {150, 150, 150}, false, 5, chosen.distanceM, {}, chosen.segment, {}, {}};
    double offset = 0;
    for (size_t i = 0; i < chosen.distanceM.size(); ++i) {
        offset += chosen.broadbandDbA[i] - options.slopeDbPerDoubling * std::log2(chosen.distanceM[i]);
    }
    offset /= double(std::max<size_t>(chosen.distanceM.size(), 1));
    for (double d : chosen.distanceM) target.levelDb.push_back(offset + options.slopeDbPerDoubling * std::log2(d));
    curves.push_back(target);
    for (const LevelProfile* profile : {&result.palcProfile, &result.chosenProfile}) {
        const bool palc = profile == &result.palcProfile;
        for (const Series& s : series) {
            ProfileCurve curve{std::string(palc ? "PALC2: " : "chosen: ") + s.label, s.colour, palc,
                               palc ? 1 : 2, profile->distanceM, {}, profile->segment, {}, {}};
            for (size_t i = 0; i < profile->distanceM.size(); ++i) {
                curve.levelDb.push_back(s.band < 0 ? profile->broadbandDbA[i] : profile->bandDb[i][size_t(s.band)]);
            }
            curves.push_back(curve);
        }
    }
    return curves;
}

std::string eachBandReport(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                           const DesignOptions& joint, const DesignResult& result) {
    std::string out = "\nEach band designed for by itself (spread in dB: alone / in the chosen array):\n";
    double aloneSum = 0, aloneWorst = 0;
    bool measuredAll = true;
    std::unique_ptr<ProgressBar> progress;
    if (joint.showProgress) progress = std::make_unique<ProgressBar>(joint.lastBand - joint.firstBand + 1);
    for (int band = joint.firstBand; band <= joint.lastBand; ++band) {
        DesignOptions alone = joint;
        alone.aloneBand = band;
        alone.showProgress = false;
        const DesignResult r = Designer(session, scenario, model, alone).run();
        const double spread = r.chosenEvenness.bandSpreadDb[size_t(band)];
        char line[96];
        if (!r.chosenEvenness.valid() || !result.chosenEvenness.valid()) {
            std::snprintf(line, sizeof line, "  %9s  not measured\n", bandLabel(band).c_str());
            out += line;
            measuredAll = false;
            continue;
        }
        aloneSum += spread;
        aloneWorst = std::max(aloneWorst, spread);
        std::snprintf(line, sizeof line, "  %9s  %6.2f  %6.2f\n", bandLabel(band).c_str(), spread,
                      result.chosenEvenness.bandSpreadDb[size_t(band)]);
        out += line;
        if (progress) progress->update(band - joint.firstBand + 1);
    }
    if (progress) progress->finish();
    char line[160];
    if (!measuredAll) std::snprintf(line, sizeof line, "  alone and chosen: not measured in every band\n");
    else std::snprintf(line, sizeof line, "  alone: mean %.2f, worst %.2f; chosen: mean %.2f, worst %.2f\n",
                  aloneSum / (joint.lastBand - joint.firstBand + 1), aloneWorst,
                  result.chosenEvenness.meanBandSpreadDb, result.chosenEvenness.worstBandSpreadDb);
    // The design leaves the instance holding its choice; the last one here
    // was a single band's.
    session.applyCells(result.chosen.splaysDeg, result.chosen.kinds);
    session.aimArray({scenario.arrayAnglesDeg.x, result.chosen.tiltDeg, scenario.arrayAnglesDeg.z});
    return out + line;
}

}  // namespace arrayhost
