#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "tools/arrayhost/canvas.h"
#include "tools/arrayhost/colour_scale.h"

using namespace arrayhost;

namespace {

constexpr Rgb kRed{200, 10, 20};

struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive
    int count = 0;
};

// Where the canvas differs from its background.
Box inkBox(const Canvas& c, Rgb background = kWhite) {
    Box b;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            if (c.at(x, y) == background) continue;
            b.x0 = std::min(b.x0, x);
            b.y0 = std::min(b.y0, y);
            b.x1 = std::max(b.x1, x);
            b.y1 = std::max(b.y1, y);
            ++b.count;
        }
    }
    return b;
}

int colourDistance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

}  // namespace

TEST(Canvas, PngRoundTripKeepsSizeAndEveryPixel) {
    Canvas c(37, 23, kWhite);
    c.fillRect(3, 4, 10, 9, kRed);
    c.line(0, 22, 36, 0, Rgb{0, 128, 255});
    c.text(12, 10, "dB", kBlack);
    const std::string path = ::testing::TempDir() + "arrayhost_canvas_test.png";
    std::string error;
    ASSERT_TRUE(c.writePng(path, error)) << error;

    const auto size = readPngSize(path);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 37);
    EXPECT_EQ(size->height, 23);

    int w = 0, h = 0, channels = 0;
    unsigned char* decoded = stbi_load(path.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(w, 37);
    ASSERT_EQ(h, 23);
    EXPECT_TRUE(std::equal(c.pixels().begin(), c.pixels().end(), decoded));
    stbi_image_free(decoded);
    std::remove(path.c_str());
}

TEST(Canvas, PngSizeRefusesOtherFiles) {
    const std::string path = ::testing::TempDir() + "arrayhost_not_a_png.png";
    std::ofstream(path, std::ios::binary) << "GIF89a and some more bytes to fill a header";
    EXPECT_FALSE(readPngSize(path).has_value());
    std::remove(path.c_str());
    EXPECT_FALSE(readPngSize(path).has_value());
}

TEST(Canvas, DrawingClipsAtTheEdges) {
    Canvas c(10, 10, kWhite);
    c.fillRect(-5, -5, 3, 3, kRed);
    c.line(-20, 5, 30, 5, kRed, 3);
    c.set(10, 0, kBlack);
    c.set(-1, 0, kBlack);
    EXPECT_EQ(c.at(0, 0), kRed);
    EXPECT_EQ(c.at(2, 2), kRed);
    EXPECT_EQ(c.at(3, 3), kWhite);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(c.at(x, 4), kRed);
        EXPECT_EQ(c.at(x, 6), kRed);
        EXPECT_EQ(c.at(x, 7), kWhite);
    }
    c.frameRect(0, 0, 10, 10, kBlack);
    EXPECT_EQ(c.at(9, 9), kBlack);
    EXPECT_EQ(c.at(5, 8), kWhite);
}

TEST(Canvas, TextStaysInsideItsMeasuredBox) {
    for (int scale : {1, 2, 3}) {
        Canvas c(200, 60, kWhite);
        const std::string s = "-12.5 dB(A)";
        c.text(20, 10, s, kBlack, scale);
        const Box b = inkBox(c);
        ASSERT_GT(b.count, 0);
        EXPECT_GE(b.x0, 20);
        EXPECT_GE(b.y0, 10);
        EXPECT_LE(b.x1, 20 + Canvas::textWidth(s, scale));
        EXPECT_LE(b.y1, 10 + Canvas::textHeight(scale));
        EXPECT_GT(b.x1 - b.x0, Canvas::textWidth(s, scale) * 3 / 4) << scale;
    }
}

TEST(Canvas, TurnedTextIsTheTextTurnedAQuarterCounterClockwise) {
    const std::string s = "y (m)";
    const int length = Canvas::textWidth(s, 2);
    Canvas flat(100, 100, kWhite), up(100, 100, kWhite);
    flat.text(10, 20, s, kBlack, 2);
    up.textUp(10, 20, s, kBlack, 2);
    EXPECT_EQ(inkBox(flat).count, inkBox(up).count);
    // Flat pixel (10 + a, 20 + b) lands on (10 + b, 20 + length - 1 - a):
    // the first letter at the bottom, read upward.
    for (int b = 0; b < 30; ++b) {
        for (int a = 0; a < length; ++a) {
            ASSERT_EQ(flat.at(10 + a, 20 + b), up.at(10 + b, 20 + length - 1 - a)) << a << ", " << b;
        }
    }
}

TEST(Canvas, LongTextKeepsEveryGlyph) {
    // Each glyph drawn alone matches the same glyph inside a long string.
    const std::string s = "88888888 -138.5 dB(A) 0123456789";
    Canvas whole(400, 20, kWhite);
    whole.text(0, 2, s, kBlack);
    int x = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const std::string glyph = s.substr(i, 1);
        Canvas alone(400, 20, kWhite);
        alone.text(x, 2, glyph, kBlack);
        const int w = Canvas::textWidth(glyph);
        for (int y = 0; y < 20; ++y) {
            for (int dx = 0; dx < w; ++dx) {
                ASSERT_EQ(whole.at(x + dx, y), alone.at(x + dx, y)) << "glyph " << i << " '" << glyph << "'";
            }
        }
        x += w;
    }
}

TEST(Canvas, CharactersOutsideAsciiDrawAsQuestionMarks) {
    EXPECT_EQ(Canvas::textWidth("\xB0"), Canvas::textWidth("?"));
    Canvas a(40, 20, kWhite), b(40, 20, kWhite);
    a.text(2, 2, "5\xC2\xB0", kBlack);
    b.text(2, 2, "5??", kBlack);
    EXPECT_EQ(a.pixels(), b.pixels());
}

TEST(ColourScale, TopIsTheLoudestRoundedUpToATick) {
    const ColourScale scale(97.2, 30);
    EXPECT_DOUBLE_EQ(scale.tickStepDb(), 3);
    EXPECT_DOUBLE_EQ(scale.topDb(), 99);
    EXPECT_DOUBLE_EQ(scale.bottomDb(), 69);
    const auto ticks = scale.ticks();
    ASSERT_EQ(ticks.size(), 11u);
    EXPECT_DOUBLE_EQ(ticks.front(), 69);
    EXPECT_DOUBLE_EQ(ticks.back(), 99);
    EXPECT_DOUBLE_EQ(ColourScale(96, 30).topDb(), 96);
    EXPECT_DOUBLE_EQ(ColourScale(-4.5, 30).topDb(), -3);
    EXPECT_DOUBLE_EQ(ColourScale(50, 60).tickStepDb(), 6);
}

TEST(ColourScale, ColoursRunFromCoolToWarmAndClampOutsideTheRange) {
    const ColourScale scale(99, 30);
    EXPECT_EQ(scale(99), scale(130));
    EXPECT_EQ(scale(69), scale(-300));
    const Rgb bottom = scale(69), top = scale(99);
    EXPECT_GT(bottom.b, bottom.r);
    EXPECT_GT(top.r, top.b);
    // Continuous: a tenth of a dB moves the colour a little; a tick a lot.
    for (double l = 69; l <= 96; l += 0.5) {
        EXPECT_LE(colourDistance(scale(l), scale(l + 0.1)), 12) << l;
        EXPECT_GE(colourDistance(scale(l), scale(l + 3)), 40) << l;
    }
}
