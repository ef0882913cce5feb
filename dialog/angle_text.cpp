#include "dialog/angle_text.h"

#include <cmath>
#include <cstdint>

namespace dialog {

namespace {

constexpr char kDegreeSign = '\xB0';

// A non-negative whole number as decimal digits, least significant first.
// 41 digits hold ten times the largest float.
struct DecimalDigits {
    static constexpr int kCapacity = 41;
    uint8_t digit[kCapacity] = {};
    int count = 0;

    explicit DecimalDigits(uint64_t value) {
        do {
            digit[count++] = uint8_t(value % 10);
            value /= 10;
        } while (value != 0);
    }

    void doubleIt() {
        int carry = 0;
        for (int i = 0; i < count; ++i) {
            const int d = digit[i] * 2 + carry;
            digit[i] = uint8_t(d % 10);
            carry = d / 10;
        }
        if (carry != 0 && count < kCapacity) digit[count++] = uint8_t(carry);
    }
};

// |value| in tenths, rounded with halves away from zero, computed exactly from
// the float's mantissa and exponent so that no decimal rounding creeps in.
DecimalDigits tenthsOf(float magnitude) {
    int exponent = 0;
    const float fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent
    const uint64_t mantissa = uint64_t(std::ldexp(fraction, 24));
    const int shift = exponent - 24;  // magnitude = mantissa * 2^shift exactly
    const uint64_t tenTimes = mantissa * 10;  // below 2^28
    if (shift >= 0) {
        DecimalDigits digits(tenTimes);
        for (int i = 0; i < shift; ++i) digits.doubleIt();
        return digits;
    }
    const int k = -shift;
    // Below half a tenth once 2^(k-1) exceeds ten times the mantissa.
    if (k > 29) return DecimalDigits(0);
    const uint64_t whole = tenTimes >> k;
    const uint64_t remainder = tenTimes & ((uint64_t(1) << k) - 1);
    const uint64_t half = uint64_t(1) << (k - 1);
    return DecimalDigits(remainder >= half ? whole + 1 : whole);
}

class TextWriter {
public:
    explicit TextWriter(AngleText& out) : out_(out) {}
    void put(char c) {
        if (length_ < kAngleTextCapacity - 1) out_.text[length_++] = c;
    }
    void put(const char* s) {
        while (*s != '\0') put(*s++);
    }
    void finish() { out_.text[length_] = '\0'; }

private:
    AngleText& out_;
    int length_ = 0;
};

}  // namespace

AngleText angleText(float valueDeg, bool parenthesised) {
    AngleText result;
    TextWriter out(result);
    if (parenthesised) out.put('(');
    if (std::isnan(valueDeg)) {
        out.put("nan");
    } else {
        if (std::signbit(valueDeg)) out.put('-');
        if (std::isinf(valueDeg)) {
            out.put("inf");
        } else {
            const DecimalDigits tenths = tenthsOf(std::fabs(valueDeg));
            if (tenths.count < 2) {
                out.put('0');
            } else {
                for (int i = tenths.count - 1; i >= 1; --i) out.put(char('0' + tenths.digit[i]));
            }
            out.put('.');
            out.put(char('0' + tenths.digit[0]));
        }
    }
    out.put(kDegreeSign);
    if (parenthesised) out.put(')');
    out.finish();
    return result;
}

}  // namespace dialog
