#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "dialog/angle_text.h"

using dialog::angleText;

namespace {

std::string text(float v, bool parenthesised = false) {
    return angleText(v, parenthesised).text;
}

// What the dialog should show, worked out from printf's decimal expansion of
// the value: cut after the second decimal and round half away from zero by
// that digit alone (an expansion at or above ...x5 is at least half a tenth).
std::string expectedFromDecimalExpansion(float v) {
    char digits[80];
    std::snprintf(digits, sizeof digits, "%.20f", std::fabs(double(v)));
    std::string s = digits;
    const size_t point = s.find('.');
    long long tenths = std::stoll(s.substr(0, point)) * 10 + (s[point + 1] - '0');
    if (s[point + 2] >= '5') ++tenths;
    std::string out = std::signbit(v) ? "-" : "";
    out += std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "\xB0";
    return out;
}

}  // namespace

TEST(AngleText, ShowsOneDecimalAndTheDegreeByte) {
    EXPECT_EQ(text(1.666f), "1.7\xB0");
    EXPECT_EQ(text(0.0f), "0.0\xB0");
    EXPECT_EQ(text(10.0f), "10.0\xB0");
    EXPECT_EQ(text(-3.332f, true), "(-3.3\xB0)");
    EXPECT_EQ(text(8.332f), "8.3\xB0");
    EXPECT_EQ(text(6.666f, true), "(6.7\xB0)");
}

TEST(AngleText, TheSignBitDecidesTheMinus) {
    EXPECT_EQ(text(-0.0f), "-0.0\xB0");
    EXPECT_EQ(text(-0.0f, true), "(-0.0\xB0)");
    EXPECT_EQ(text(-0.04f), "-0.0\xB0");
    EXPECT_EQ(text(0.04f), "0.0\xB0");
    EXPECT_EQ(text(-std::numeric_limits<float>::denorm_min()), "-0.0\xB0");
}

TEST(AngleText, HalvesGoAwayFromZero) {
    // Exact binary halves of a tenth.
    EXPECT_EQ(text(0.25f), "0.3\xB0");
    EXPECT_EQ(text(-0.25f), "-0.3\xB0");
    EXPECT_EQ(text(2.75f), "2.8\xB0");
    EXPECT_EQ(text(-1.125f), "-1.1\xB0");
    EXPECT_EQ(text(9.95f), "9.9\xB0");  // the float lies just below 9.95
    EXPECT_EQ(text(9.75f), "9.8\xB0");
    EXPECT_EQ(text(9.96f), "10.0\xB0");
}

TEST(AngleText, RoundsTheFloatsOwnValueNotTheLiteral) {
    EXPECT_EQ(text(0.35f), "0.3\xB0");  // 0.3499999940...
    EXPECT_EQ(text(0.15f), "0.2\xB0");  // 0.1500000059...
    EXPECT_EQ(text(0.05f), "0.1\xB0");  // 0.0500000007...
    EXPECT_EQ(text(4.998f), "5.0\xB0");
}

TEST(AngleText, AgreesWithTheDecimalExpansionOfRandomValues) {
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> anywhere(-2000.0f, 2000.0f);
    std::uniform_int_distribution<int> twentieths(-400, 400);
    for (int i = 0; i < 20000; ++i) {
        const float v = anywhere(random);
        ASSERT_EQ(text(v), expectedFromDecimalExpansion(v)) << v;
        // Values next to the rounding boundaries, where a shortcut through
        // decimal arithmetic would slip.
        const float boundary = float(twentieths(random)) * 0.05f;
        for (float w : {std::nextafter(boundary, -1e9f), boundary, std::nextafter(boundary, 1e9f)}) {
            ASSERT_EQ(text(w), expectedFromDecimalExpansion(w)) << w;
        }
    }
}

TEST(AngleText, HugeAndNonFiniteValuesStayInsideTheBuffer) {
    EXPECT_EQ(text(1e30f), "1000000015047466219876688855040.0\xB0");
    const std::string largest = text(-FLT_MAX, true);
    EXPECT_EQ(largest, "(-340282346638528859811704183484516925440.0\xB0)");
    EXPECT_LT(largest.size(), size_t(dialog::kAngleTextCapacity));
    EXPECT_EQ(text(std::numeric_limits<float>::infinity()), "inf\xB0");
    EXPECT_EQ(text(-std::numeric_limits<float>::infinity(), true), "(-inf\xB0)");
    EXPECT_EQ(text(std::nanf(""), true), "(nan\xB0)");
}
