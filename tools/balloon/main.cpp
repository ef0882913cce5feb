// balloon: makes, checks, converts and draws the directivity balloons that the
// plug-ins embed. See tools/balloon/README.md.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "acoustics/balloon_analysis.h"
#include "acoustics/bands.h"
#include "tools/balloon/balloon_io.h"
#include "tools/balloon/balloon_model.h"
#include "tools/balloon/balloon_text.h"
#include "tools/balloon/polar_plot.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: balloon generate <out dir>\n"
                 "       balloon import <text file> <out dir>\n"
                 "       balloon export <balloon.f32> <kind> <text file>\n"
                 "       balloon plot <balloon.f32> <band Hz> <out.svg> [title]\n"
                 "       balloon report <balloon.f32>\n");
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
            std::printf("  %5d Hz  Q %8.3f\n", static_cast<int>(acoustics::bandCentreHz(band)), q);
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
