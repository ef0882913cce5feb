#include "tools/balloon/balloon_io.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "acoustics/balloon_grid.h"
#include "acoustics/bands.h"

namespace balloon {

std::string balloonFileName(const std::string& kind) {
    std::string stem = kind;
    for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return stem + ".f32";
}

std::string nonFiniteNode(const Balloon& balloon) {
    using namespace acoustics;
    for (size_t i = 0; i < balloon.size(); ++i) {
        if (std::isfinite(balloon[i])) continue;
        const int band = static_cast<int>(i) / kBalloonBandStride, rest = static_cast<int>(i) % kBalloonBandStride;
        char text[96];
        std::snprintf(text, sizeof text, "%g Hz, meridian %d, polar %d", bandCentreHz(band),
                      rest / kPolarCount * kGridStepDeg, rest % kPolarCount * kGridStepDeg);
        return text;
    }
    return {};
}

std::string readBalloonFile(const std::string& path, Balloon& balloon) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot open";
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != acoustics::kBalloonBytes) {
        return path + ": holds " + std::to_string(bytes.size()) + " bytes, a balloon is " +
               std::to_string(acoustics::kBalloonBytes);
    }
    balloon.resize(acoustics::kBalloonValueCount);
    for (int i = 0; i < acoustics::kBalloonValueCount; ++i) {
        const unsigned char* b = &bytes[4 * i];
        const uint32_t word = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
        std::memcpy(&balloon[i], &word, sizeof word);
    }
    return {};
}

std::string writeBalloonFile(const std::string& path, const Balloon& balloon) {
    if (balloon.size() != static_cast<std::size_t>(acoustics::kBalloonValueCount)) return path + ": not a whole balloon";
    if (const std::string bad = nonFiniteNode(balloon); !bad.empty())
        return path + ": the level at " + bad + " is not finite; nothing written";
    std::vector<char> bytes(acoustics::kBalloonBytes);
    for (int i = 0; i < acoustics::kBalloonValueCount; ++i) {
        uint32_t word;
        std::memcpy(&word, &balloon[i], sizeof word);
        for (int k = 0; k < 4; ++k) bytes[4 * i + k] = static_cast<char>((word >> (8 * k)) & 0xFF);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return path + ": cannot create";
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out ? std::string{} : path + ": write failed";
}

}  // namespace balloon
