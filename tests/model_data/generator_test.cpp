// The generator reproduces the committed balloons bit for bit, and meets
// every published value it calibrates to without leaning on its fallbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "tools/balloon/balloon_io.h"
#include "tools/balloon/balloon_model.h"

namespace {

// Generating takes seconds; do it once for the whole suite.
const std::map<std::string, balloon::GeneratedBalloon>& generated() {
    static const std::map<std::string, balloon::GeneratedBalloon> made = [] {
        std::map<std::string, balloon::GeneratedBalloon> m;
        for (const balloon::BalloonRecipe& recipe : balloon::productRecipes())
            m.emplace(recipe.name, balloon::generateBalloon(recipe));
        return m;
    }();
    return made;
}

}  // namespace

TEST(Generator, MakesTheFourProductBalloons) {
    std::string names;
    for (const auto& [name, made] : generated()) names += name + " ";
    EXPECT_EQ(names, "KTR QSA QSB QSC ");
}

TEST(Generator, ReproducesTheCommittedDataExactly) {
    for (const auto& [name, made] : generated()) {
        balloon::Balloon committed;
        const std::string path = std::string(MODEL_DATA_DIR) + "/" + balloon::balloonFileName(name);
        ASSERT_EQ(balloon::readBalloonFile(path, committed), "");
        ASSERT_EQ(made.values.size(), committed.size());
        EXPECT_EQ(std::memcmp(made.values.data(), committed.data(), committed.size() * sizeof(float)), 0) << path;
    }
}

TEST(Generator, CalibrationMeetsItsTargets) {
    for (const auto& [name, made] : generated()) {
        for (int band = 0; band < 21; ++band) {
            EXPECT_LT(made.pinError[band], 1e-9) << name << " band " << band + 1;
            EXPECT_TRUE(made.directivityBracketed[band]) << name << " band " << band + 1;
        }
    }
}

TEST(Generator, ShapesStayPhysical) {
    for (const auto& [name, made] : generated()) {
        for (int band = 0; band < 21; ++band) {
            const balloon::BandShape& s = made.shapes[band];
            // Effective line no taller than twice the cabinet front, horn not
            // narrower than 30 degrees, rear below the front.
            EXPECT_GT(s.lineHeightM, 0.0) << name << band;
            EXPECT_LT(s.lineHeightM, 0.8) << name << band;
            EXPECT_GT(s.hornWidthU, 0.06) << name << band;
            EXPECT_LT(s.rearDb, -3.0) << name << band;
            EXPECT_GT(s.shadowExponent, 0.0) << name << band;
        }
    }
}

TEST(Generator, DataFileNames) {
    EXPECT_EQ(balloon::balloonFileName("KTR"), "ktr.f32");
    EXPECT_EQ(balloon::balloonFileName("QSB"), "qsb.f32");
}

TEST(BalloonFile, RefusesFilesOfTheWrongSize) {
    const std::string path = testing::TempDir() + "short.f32";
    balloon::Balloon values(acoustics::kBalloonValueCount, -1.5f);
    ASSERT_EQ(balloon::writeBalloonFile(path, values), "");
    balloon::Balloon back;
    ASSERT_EQ(balloon::readBalloonFile(path, back), "");
    EXPECT_EQ(back, values);
    { std::ofstream(path, std::ios::binary | std::ios::app) << "x"; }
    EXPECT_NE(balloon::readBalloonFile(path, back).find("223777 bytes"), std::string::npos);
    EXPECT_NE(balloon::readBalloonFile(path + ".missing", back).find("cannot open"), std::string::npos);
}
