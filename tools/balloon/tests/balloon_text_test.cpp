// The text importer: round trips of the committed data, and strict,
// well-located rejection of every kind of damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/balloon/balloon_io.h"
#include "tools/balloon/balloon_text.h"

namespace {

balloon::Balloon committed(const std::string& kind) {
    balloon::Balloon values;
    const std::string error =
        balloon::readBalloonFile(std::string(MODEL_DATA_DIR) + "/" + balloon::balloonFileName(kind), values);
    EXPECT_EQ(error, "");
    return values;
}

bool sameBytes(const balloon::Balloon& a, const balloon::Balloon& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string join(const std::vector<std::string>& ls) {
    std::string out;
    for (const std::string& l : ls) out += l + "\n";
    return out;
}

// The exported text is two comment lines, then nodes in band, meridian, polar order.
constexpr int kHeaderLines = 2;
int lineOf(int band, int meridian, int polar) { return kHeaderLines + acoustics::balloonIndex(band, meridian, polar); }

class DamagedText : public ::testing::Test {
protected:
    void SetUp() override { text = lines(balloon::exportBalloonText("QSB", committed("QSB"))); }
    std::string importError() const { return balloon::importBalloonText(join(text), "meas.txt").error; }
    std::vector<std::string> text;
};

}  // namespace

TEST(BalloonText, RoundTripsEveryCommittedBalloon) {
    for (const char* kind : {"KTR", "QSA", "QSB", "QSC"}) {
        const balloon::Balloon original = committed(kind);
        const balloon::ImportResult result =
            balloon::importBalloonText(balloon::exportBalloonText(kind, original), "x.txt");
        ASSERT_EQ(result.error, "") << kind;
        ASSERT_EQ(result.balloons.size(), 1u);
        EXPECT_TRUE(sameBytes(result.balloons.at(kind), original)) << kind;
    }
}

TEST(BalloonText, ReadsSeveralKindsInAnyOrderWithComments) {
    std::vector<std::string> all = lines(balloon::exportBalloonText("QSA", committed("QSA")));
    const std::vector<std::string> c = lines(balloon::exportBalloonText("QSC", committed("QSC")));
    all.insert(all.end(), c.begin(), c.end());
    std::reverse(all.begin(), all.end());
    all[100] += "   # trailing comment";
    all.insert(all.begin() + 7, "");
    all.insert(all.begin() + 9, "   # an indented comment");
    all[200] = "\t" + all[200];
    const balloon::ImportResult result = balloon::importBalloonText(join(all), "two.txt");
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.balloons.size(), 2u);
    EXPECT_TRUE(sameBytes(result.balloons.at("QSA"), committed("QSA")));
    EXPECT_TRUE(sameBytes(result.balloons.at("QSC"), committed("QSC")));
}

TEST(BalloonText, WritesNumbersThatReadBackExactly) {
    balloon::Balloon values(acoustics::kBalloonValueCount, 0.0f);
    for (int band = 0; band < 21; ++band)
        for (int m = 0; m < 72; ++m)
            for (int p = 1; p < 36; ++p) values[acoustics::balloonIndex(band, m, p)] = -0.1f * p - 1e-7f * m + 0.3f / (band + 1);
    for (int band = 0; band < 21; ++band)
        for (int m = 0; m < 72; ++m) values[acoustics::balloonIndex(band, m, 36)] = -33.333333f;
    const balloon::ImportResult result = balloon::importBalloonText(balloon::exportBalloonText("T", values), "t");
    ASSERT_EQ(result.error, "");
    EXPECT_TRUE(sameBytes(result.balloons.at("T"), values));
}

TEST_F(DamagedText, MissingNode) {
    text.erase(text.begin() + lineOf(10, 1, 6));  // 1000 Hz, meridian 5, polar 30
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(text.size()) +
                                 ": kind QSB lacks 1 of 55944 nodes, the first at 1000 Hz, meridian 5, polar 30");
}

TEST_F(DamagedText, MissingKindBand) {
    text.resize(kHeaderLines + 20 * 2664);
    EXPECT_NE(importError().find("lacks 2664 of 55944 nodes, the first at 10000 Hz, meridian 0, polar 0"),
              std::string::npos);
}

TEST_F(DamagedText, LevelsThatAreNotFinite) {
    for (const char* bad : {"nan", "NaN", "inf", "-inf"}) {
        SetUp();
        text[lineOf(3, 4, 5)] = std::string("QSB 200 20 25 ") + bad;
        EXPECT_EQ(importError(), "meas.txt:" + std::to_string(lineOf(3, 4, 5) + 1) + ": level " + bad +
                                     " is not finite");
    }
}

TEST_F(DamagedText, NodesOffTheGrid) {
    const int n = lineOf(0, 0, 1) + 1;
    const std::string at = "meas.txt:" + std::to_string(n) + ": ";
    text[n - 1] = "QSB 100 7 5 -0.1";
    EXPECT_EQ(importError(), at + "meridian 7 is not on the 5-degree grid 0-355");
    text[n - 1] = "QSB 100 360 5 -0.1";
    EXPECT_EQ(importError(), at + "meridian 360 is not on the 5-degree grid 0-355");
    text[n - 1] = "QSB 100 -5 5 -0.1";
    EXPECT_EQ(importError(), at + "meridian -5 is not on the 5-degree grid 0-355");
    text[n - 1] = "QSB 100 0 185 -0.1";
    EXPECT_EQ(importError(), at + "polar 185 is not on the 5-degree grid 0-180");
    text[n - 1] = "QSB 100 0 4.99 -0.1";
    EXPECT_EQ(importError(), at + "polar 4.99 is not on the 5-degree grid 0-180");
    text[n - 1] = "QSB 1001 0 5 -0.1";
    EXPECT_EQ(importError(), at + "band 1001 Hz is not a third-octave centre 100-10000 Hz");
    text[n - 1] = "QSB 12500 0 5 -0.1";
    EXPECT_EQ(importError(), at + "band 12500 Hz is not a third-octave centre 100-10000 Hz");
}

TEST_F(DamagedText, AxisNotNormalised) {
    text[lineOf(7, 30, 0)] = "QSB 500 150 0 0.5";
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(lineOf(7, 30, 0) + 1) +
                                 ": on-axis level 0.5 dB; the balloon must be normalised to 0 dB on axis");
}

TEST_F(DamagedText, DuplicateNode) {
    const std::string copy = text[lineOf(12, 3, 4)];
    text.push_back(copy);
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(text.size()) + ": node QSB 1600 Hz, meridian 15, polar 20 " +
                                 "already given on line " + std::to_string(lineOf(12, 3, 4) + 1));
}

TEST_F(DamagedText, RearRowThatIsNotOneDirection) {
    std::istringstream fields(text[lineOf(4, 9, 36)]);
    std::string kind, hz, m, p;
    double level;
    fields >> kind >> hz >> m >> p >> level;
    // Within the tolerance: accepted, and stored as the row's mean.
    text[lineOf(4, 9, 36)] = "QSB 250 45 180 " + std::to_string(level + 0.036);
    const balloon::ImportResult near = balloon::importBalloonText(join(text), "meas.txt");
    ASSERT_EQ(near.error, "");
    const float mean = static_cast<float>((72 * level + 0.036) / 72);
    for (int meridian = 0; meridian < 72; ++meridian)
        EXPECT_FLOAT_EQ(near.balloons.at("QSB")[acoustics::balloonIndex(4, meridian, 36)], mean);
    // Beyond it: refused at that node's line.
    text[lineOf(4, 9, 36)] = "QSB 250 45 180 " + std::to_string(level + 0.2);
    EXPECT_NE(importError().find("meas.txt:" + std::to_string(lineOf(4, 9, 36) + 1) +
                                 ": rear node of kind QSB at 250 Hz, meridian 45, polar 180 differs by 0.19"),
              std::string::npos)
        << importError();
}

TEST_F(DamagedText, MalformedLines) {
    const int n = lineOf(2, 2, 2) + 1;
    text[n - 1] = "QSB 160 10 10";
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(n) +
                                 ": expected 5 fields (kind, band Hz, meridian, polar, level dB), found 4");
    text[n - 1] = "QSB 160 10 10 -1.5 extra";
    EXPECT_NE(importError().find("found 6"), std::string::npos);
    text[n - 1] = "QSB 160 10 10 -1.5dB";
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(n) + ": level '-1.5dB' is not a number");
    text[n - 1] = "QSB 160Hz 10 10 -1.5";
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(n) + ": band '160Hz' is not a number");
    text[n - 1] = "QSB 160 ten 10 -1.5";
    EXPECT_EQ(importError(), "meas.txt:" + std::to_string(n) + ": meridian 'ten' is not a number");
}

TEST(BalloonText, EmptyInput) {
    EXPECT_EQ(balloon::importBalloonText("", "e.txt").error, "e.txt:0: no balloon nodes");
    EXPECT_EQ(balloon::importBalloonText("# only\n\n", "e.txt").error, "e.txt:2: no balloon nodes");
}
