// balloon: makes, checks, converts and draws the directivity balloons that the
// plug-ins embed. See tools/balloon/README.md.
#include <cctype>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "acoustics/balloon_analysis.h"
#include "acoustics/bands.h"
#include "tools/balloon/balloon_io.h"
#include "tools/balloon/balloon_model.h"
#include "tools/balloon/balloon_tables.h"
#include "tools/balloon/balloon_text.h"
#include "tools/balloon/import_warnings.h"
#include "tools/host/provenance_text.h"
#include "tools/host/sha256.h"
#include "tools/balloon/polar_plot.h"
#ifdef BALLOON_HAVE_SOFA
#include "tools/balloon/sofa_reader.h"
#include "tools/balloon/sphere_resample.h"
#endif

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: balloon generate <out dir>\n"
                 "       balloon import <text file> <out dir>\n"
                 "       balloon export <balloon.f32> <kind> <text file>\n"
                 "       balloon plot <balloon.f32> <band Hz> <out.svg> [title]\n"
                 "       balloon report <balloon.f32>\n"
                 "       balloon compare <A.f32> <B.f32>\n"
#ifdef BALLOON_HAVE_SOFA
                 "       balloon import-sofa <file.sofa> <out dir> --kind KTR|QSA|QSB|QSC [--measurement K]\n"
                 "                           [--use K:LOW-HIGH ...] [--sum power|complex] [--mirror] [--pa-per-unit X]\n"
                 "                           [--gain-db G] [--strict] [--licence ID]\n"
#endif
                 );
    return 2;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) std::fprintf(stderr, "%s: cannot write\n", path.c_str());
    return static_cast<bool>(out);
}

void report(const std::string& name, const balloon::Balloon& b, const std::array<float, 21>* published) {
    const acoustics::BalloonRange range = acoustics::balloonRange(b.data());
    std::printf("%s: min %.4f dB (band %d), max %.4f dB (band %d)\n", name.c_str(), range.minDb,
                range.minIndex / acoustics::kBalloonBandStride + 1, range.maxDb,
                range.maxIndex / acoustics::kBalloonBandStride + 1);
    double worst = 1.0;
    for (int band = 0; band < models::kBandCount; ++band) {
        const double q = acoustics::directivityFactor(b.data() + band * acoustics::kBalloonBandStride);
        if (published) {
            const double ratio = q / (*published)[band];
            if (std::fabs(ratio - 1.0) > std::fabs(worst - 1.0)) worst = ratio;
            std::printf("  %5d Hz  Q %8.3f  published %8.3f  ratio %.4f\n",
                        static_cast<int>(acoustics::bandCentreHz(band)), q, (*published)[band], ratio);
        } else {
            std::printf("  %5d Hz  Q %8.3f  -6 dB horizontal %5.1f deg  vertical %5.1f deg\n",
                        static_cast<int>(acoustics::bandCentreHz(band)), q, balloon::horizontalCoverageDeg(b, band),
                        balloon::verticalCoverageDeg(b, band));
        }
    }
    if (published) std::printf("  worst Q ratio %.4f\n", worst);
}

int generate(const std::string& outDir) {
    for (const balloon::BalloonRecipe& recipe : balloon::productRecipes()) {
        const balloon::GeneratedBalloon made = balloon::generateBalloon(recipe);
        const std::string path = outDir + "/" + balloon::balloonFileName(recipe.name);
        if (const std::string error = balloon::writeBalloonFile(path, made.values); !error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        report(recipe.name, made.values, &recipe.directivityFactor);
    }
    return 0;
}

int importText(const std::string& textPath, const std::string& outDir) {
    std::ifstream in(textPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open\n", textPath.c_str());
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const balloon::ImportResult result = balloon::importBalloonText(text, textPath);
    if (!result.error.empty()) {
        std::fprintf(stderr, "%s\n", result.error.c_str());
        return 1;
    }
    for (const auto& [kind, values] : result.balloons) {
        const std::string path = outDir + "/" + balloon::balloonFileName(kind);
        if (const std::string error = balloon::writeBalloonFile(path, values); !error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%s -> %s\n", kind.c_str(), path.c_str());
    }
    return 0;
}

#ifdef BALLOON_HAVE_SOFA
// The whole argument as a finite number: "1e155x", "nan" and "inf" are not.
bool finiteNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// Where a balloon came from: the measurement file's own attributes, its
// SHA-256, the command that imported it and what the import warned about,
// one "Key: value" line each, every value sanitised (one line, valid UTF-8,
// no control characters, at most kMaxProvenanceCharacters). The build reads
// the record back by key: Title, Organization and License for the plug-in's
// provenance line, all of it for the release's notices. A licence the file
// lacks may be stated by the maker (--licence); License-Given-By says which.
std::string provenanceText(const std::string& kind, const std::string& sofaPath, const balloon::SofaDirectivity& measured,
                           const std::string& makersLicence, int argc, char** argv,
                           const std::vector<std::string>& warnings) {
    using host::sanitisedProvenanceText;
    std::string text = "# " + balloon::balloonFileName(kind) + ": imported by balloon import-sofa\n";
    std::string licenceGivenBy = "nobody";
    for (size_t i = 0; i < std::size(balloon::kProvenanceAttributes); ++i) {
        const std::string name = balloon::kProvenanceAttributes[i];
        std::string value = sanitisedProvenanceText(i < measured.provenance.size() ? measured.provenance[i] : "");
        if (name == "License") {
            if (value.find_first_not_of(' ') != std::string::npos) licenceGivenBy = "the file";
            else if (!makersLicence.empty()) value = sanitisedProvenanceText(makersLicence), licenceGivenBy = "the maker";
        }
        text += name + ": " + value + "\n";
        if (name == "License") text += "License-Given-By: " + licenceGivenBy + "\n";
    }
    const size_t slash = sofaPath.find_last_of('/');
    text += "File: " + sanitisedProvenanceText(slash == std::string::npos ? sofaPath : sofaPath.substr(slash + 1)) + "\n";
    text += "SHA-256: " + host::sha256OfFile(sofaPath) + "\n";
    text += "Combination: " + sanitisedProvenanceText(measured.combination) + "\n";
    std::string command = "balloon";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        command += " " + (arg.find_first_of(" \t'\"") == std::string::npos ? arg : "'" + arg + "'");
    }
    text += "Command: " + sanitisedProvenanceText(command) + "\n";
    for (const std::string& warning : warnings) text += "Warning: " + sanitisedProvenanceText(warning) + "\n";
    return text;
}

int importSofa(int argc, char** argv) {
    const std::string sofaPath = argv[2], outDir = argv[3];
    balloon::SofaOptions options;
    std::string kind;
    bool mirror = false, strict = false;
    double gainDb = 0.0;
    std::string makersLicence;
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--strict") {
            strict = true;
        } else if (option == "--mirror") {
            mirror = true;
        } else if (option == "--kind" && hasValue) {
            kind = argv[++i];
        } else if (option == "--measurement" && hasValue) {
            options.measurement = std::atoi(argv[++i]);
            if (options.measurement < 1) return usage();
        } else if (option == "--use" && hasValue) {
            // --use K:LOW-HIGH [K:LOW-HIGH ...]
            while (i + 1 < argc && argv[i + 1][0] != '-') {
                balloon::BandUse use;
                int consumed = 0;
                const char* text = argv[++i];
                if (std::sscanf(text, "%d:%lf-%lf%n", &use.measurement, &use.lowHz, &use.highHz, &consumed) != 3 ||
                    text[consumed] != '\0') {
                    std::fprintf(stderr, "--use '%s': expected K:LOW-HIGH, a measurement and its band range in Hz\n", text);
                    return 2;
                }
                options.use.push_back(use);
            }
            if (options.use.empty()) return usage();
        } else if (option == "--sum" && hasValue) {
            const std::string mode = argv[++i];
            if (mode != "power" && mode != "complex") return usage();
            options.sum = mode == "power" ? balloon::MeasurementSum::Power : balloon::MeasurementSum::Complex;
            options.sumGiven = true;
        } else if (option == "--pa-per-unit" && hasValue) {
            if (!finiteNumber(argv[++i], options.pascalPerUnit) || !(options.pascalPerUnit > 0)) return usage();
        } else if (option == "--gain-db" && hasValue) {
            if (!finiteNumber(argv[++i], gainDb)) return usage();
        } else if (option == "--licence" && hasValue) {
            makersLicence = argv[++i];
            if (host::sanitisedProvenanceText(makersLicence).find_first_not_of(' ') == std::string::npos) {
                std::fprintf(stderr, "--licence: give the licence's identifier, such as CC-BY-4.0\n");
                return 2;
            }
        } else {
            return usage();
        }
    }
    // The kinds the plug-ins embed, in any case; a product's name (ktr4) is
    // not a kind, and its file would be ignored by the build.
    std::string upper = kind;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper != "KTR" && upper != "QSA" && upper != "QSB" && upper != "QSC") {
        std::fprintf(stderr, "--kind '%s' is not a cabinet kind: KTR (ktr2 and ktr4), QSA, QSB or QSC\n", kind.c_str());
        return 2;
    }
    kind = upper;

    const balloon::SofaDirectivity measured = balloon::readSofaDirectivityIsolated(sofaPath, options);
    if (!measured.error.empty()) {
        std::fprintf(stderr, "%s\n", measured.error.c_str());
        return 1;
    }
    // A licence the maker states stands in for one the file lacks, and for
    // no other: the file's own is the one that binds.
    for (size_t i = 0; i < std::size(balloon::kProvenanceAttributes) && i < measured.provenance.size(); ++i) {
        const bool stated = host::sanitisedProvenanceText(measured.provenance[i]).find_first_not_of(' ') !=
                            std::string::npos;
        if (std::string(balloon::kProvenanceAttributes[i]) == "License" && stated && !makersLicence.empty()) {
            std::fprintf(stderr, "%s: License: the file states '%s'; --licence is for files that state none\n",
                         sofaPath.c_str(), host::sanitisedProvenanceText(measured.provenance[i]).c_str());
            return 2;
        }
    }
    balloon::ResampleResult resampled = balloon::resampleToGrid(measured.directions, measured.energies);
    if (!resampled.error.empty()) {
        std::fprintf(stderr, "%s: %s: %s\n", sofaPath.c_str(), measured.directionVariable.c_str(),
                     resampled.error.c_str());
        return 1;
    }
    const auto asymmetry = balloon::balloonAsymmetry(resampled.balloon);
    std::printf("%s: %zu directions, %s, %s; left-right asymmetry%s:\n", sofaPath.c_str(),
                measured.directions.size(), measured.combination.c_str(),
                measured.bandCentreValues ? "band-centre values" : "narrow bins averaged per band",
                mirror ? " before --mirror" : "");
    for (int band = 0; band < models::kBandCount; ++band)
        std::printf("  %5d Hz  worst %.2f dB at meridian %d, polar %d\n",
                    static_cast<int>(acoustics::bandCentreHz(band)), asymmetry[band].worstDb,
                    asymmetry[band].meridianDeg, asymmetry[band].polarDeg);
    if (mirror) balloon::mirrorBalloon(resampled.balloon);

    std::array<double, models::kBandCount> onAxis = resampled.onAxisEnergy;
    for (double& e : onAxis) e *= std::pow(10.0, gainDb / 10.0);
    const balloon::BandTables tables = balloon::bandTables(resampled.balloon, &onAxis);
    if (const std::string fault = balloon::tablesFault(tables); !fault.empty()) {
        std::fprintf(stderr, "%s: tables: %s (--gain-db %g)\n", sofaPath.c_str(), fault.c_str(), gainDb);
        return 1;
    }
    // Plausibility, per band: warnings, or with --strict a refusal.
    balloon::ImportFacts facts;
    facts.balloon = &resampled.balloon;
    facts.tables = &tables;
    facts.dataHasUnits = !measured.dataUnits.empty();
    facts.scaled = options.pascalPerUnit != 1.0;
    balloon::ResampleResult powerSum;
    if (!measured.powerSumEnergies.empty()) {
        powerSum = balloon::resampleToGrid(measured.directions, measured.powerSumEnergies);
        if (powerSum.error.empty()) {
            facts.complexOnAxis = &resampled.onAxisEnergy;
            facts.powerOnAxis = &powerSum.onAxisEnergy;
        }
    }
    const std::vector<std::string> warnings = balloon::importWarnings(facts);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s: %s: %s\n", sofaPath.c_str(), strict ? "refused" : "warning", warning.c_str());
    if (strict && !warnings.empty()) {
        std::fprintf(stderr, "%s: refused under --strict: %zu finding(s) above; nothing written\n", sofaPath.c_str(),
                     warnings.size());
        return 1;
    }
    const std::string balloonPath = outDir + "/" + balloon::balloonFileName(kind);
    if (const std::string error = balloon::writeBalloonFile(balloonPath, resampled.balloon); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::string stem = balloon::balloonFileName(kind);
    const std::string tablesPath = outDir + "/" + stem.substr(0, stem.size() - 4) + ".tables.txt";
    const std::string tablesText = balloon::bandTablesText(kind, tables);
    if (!writeText(tablesPath, tablesText)) return 1;
    const std::string sourcePath = outDir + "/" + stem.substr(0, stem.size() - 4) + ".source.txt";
    if (!writeText(sourcePath, provenanceText(kind, sofaPath, measured, makersLicence, argc, argv, warnings))) return 1;
    std::printf("%s -> %s, %s\n%s", kind.c_str(), balloonPath.c_str(), tablesPath.c_str(), tablesText.c_str());
    return 0;
}
#endif

// The on-axis levels of a balloon's tables file beside it (<stem>.tables.txt),
// or false when there is none.
bool onAxisLevels(const std::string& balloonPath, std::array<double, models::kBandCount>& levels) {
    std::ifstream in(balloonPath.substr(0, balloonPath.size() - 4) + ".tables.txt");
    if (!in || balloonPath.size() < 4) return false;
    int band = 0;
    for (std::string line; std::getline(in, line) && band < models::kBandCount;) {
        if (line.empty() || line[0] == '#') continue;
        double hz = 0, level = 0;
        if (std::sscanf(line.c_str(), "%lf %lf", &hz, &level) != 2) return false;
        levels[band++] = level;
    }
    return band == models::kBandCount;
}

// Two balloons side by side, per band: on-axis level (from their tables
// files, when both have one), Q, the -6 dB coverage angles, the largest
// node difference and where it lies; then what each would be warned about.
int compare(const std::string& pathA, const std::string& pathB) {
    balloon::Balloon a, b;
    for (const auto& [path, values] : {std::pair{&pathA, &a}, std::pair{&pathB, &b}}) {
        if (const std::string error = balloon::readBalloonFile(*path, *values); !error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        if (const std::string bad = balloon::nonFiniteNode(*values); !bad.empty()) {
            std::fprintf(stderr, "%s: the level at %s is not finite\n", path->c_str(), bad.c_str());
            return 1;
        }
    }
    const balloon::BandTables ta = balloon::bandTables(a, nullptr), tb = balloon::bandTables(b, nullptr);
    std::array<double, models::kBandCount> levelA{}, levelB{};
    const bool levels = onAxisLevels(pathA, levelA) && onAxisLevels(pathB, levelB);
    std::printf("A %s\nB %s\n", pathA.c_str(), pathB.c_str());
    std::printf("  band_Hz  %s  Q_A  Q_B  Q_B/Q_A  horizontal_A_B_deg  vertical_A_B_deg  largest_node_diff_dB_at\n",
                levels ? "on_axis_B-A_dB" : "on_axis_B-A_dB(no tables)");
    double worst = 0;
    for (int band = 0; band < models::kBandCount; ++band) {
        int at = band * acoustics::kBalloonBandStride;
        for (int i = at; i < (band + 1) * acoustics::kBalloonBandStride; ++i)
            if (std::fabs(b[i] - a[i]) > std::fabs(b[at] - a[at])) at = i;
        const int rest = at % acoustics::kBalloonBandStride;
        const double difference = double(b[at]) - double(a[at]);
        worst = std::max(worst, std::fabs(difference));
        char onAxis[32] = "-";
        if (levels) std::snprintf(onAxis, sizeof onAxis, "%+.3f", levelB[band] - levelA[band]);
        std::printf("  %-5d  %8s  %8.4f  %8.4f  %7.4f  %5.1f %5.1f  %5.1f %5.1f  %+7.3f at meridian %d, polar %d\n",
                    static_cast<int>(acoustics::bandCentreHz(band)), onAxis, ta.directivityFactor[band],
                    tb.directivityFactor[band], tb.directivityFactor[band] / ta.directivityFactor[band],
                    ta.horizontalCoverageDeg[band], tb.horizontalCoverageDeg[band], ta.verticalCoverageDeg[band],
                    tb.verticalCoverageDeg[band], difference, rest / acoustics::kPolarCount * acoustics::kGridStepDeg,
                    rest % acoustics::kPolarCount * acoustics::kGridStepDeg);
    }
    std::printf("  largest node difference %.3f dB\n", worst);
    for (const auto& [name, values, tables] : {std::tuple{"A", &a, &ta}, std::tuple{"B", &b, &tb}}) {
        balloon::ImportFacts facts;
        facts.balloon = values;
        facts.tables = tables;
        for (const std::string& warning : balloon::importWarnings(facts)) std::printf("  %s warning: %s\n", name, warning.c_str());
    }
    return 0;
}

int bandOfHz(const std::string& text) {
    const double hz = std::atof(text.c_str());
    for (int band = 0; band < models::kBandCount; ++band)
        if (acoustics::bandCentreHz(band) == hz) return band;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "generate" && argc == 3) return generate(argv[2]);
    if (command == "import" && argc == 4) return importText(argv[2], argv[3]);
    if (command == "compare" && argc == 4) return compare(argv[2], argv[3]);
#ifdef BALLOON_HAVE_SOFA
    if (command == "import-sofa" && argc >= 4) {
        // A file can ask for more than this machine has, within the caps the
        // reader sets: that is a refusal of the file, not an abort.
        try {
            return importSofa(argc, argv);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "%s: refused: the file needs more memory than this machine can give\n", argv[2]);
            return 1;
        }
    }
#endif

    if ((command == "export" && argc == 5) || (command == "plot" && (argc == 5 || argc == 6)) ||
        (command == "report" && argc == 3)) {
        balloon::Balloon values;
        if (const std::string error = balloon::readBalloonFile(argv[2], values); !error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        if (command == "report") {
            report(argv[2], values, nullptr);
            return 0;
        }
        if (command == "export") return writeText(argv[4], balloon::exportBalloonText(argv[3], values)) ? 0 : 1;
        const int band = bandOfHz(argv[3]);
        if (band < 0) {
            std::fprintf(stderr, "%s Hz is not a band centre\n", argv[3]);
            return 1;
        }
        return writeText(argv[4], balloon::polarPlotSvg(values, band, argc == 6 ? argv[5] : argv[2])) ? 0 : 1;
    }
    return usage();
}
