// The text the setup dialog shows for a splay or an aim angle: one decimal,
// halves away from zero, the degree sign as the Windows-1252 byte 0xB0.
#pragma once

namespace dialog {

// "(" "-" 39 integer digits "." digit "\xB0" ")" and the NUL fit with room.
inline constexpr int kAngleTextCapacity = 48;

struct AngleText {
    char text[kAngleTextCapacity];
};

// The digits are those of the exact value of the float, rounded to one place
// with halves away from zero. The sign bit decides the minus, so -0.0 and
// -0.04 read "-0.0". With parenthesised set the text is wrapped in "(" ")",
// as the dialog shows aim angles. Infinities read "inf"/"-inf" and a NaN
// "nan", each with the degree sign.
AngleText angleText(float valueDeg, bool parenthesised);

}  // namespace dialog
