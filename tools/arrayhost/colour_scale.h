// The dB colour scale of the coverage maps: `rangeDb` below a round top level,
// from dark blue (quietest) through green and yellow to dark red (loudest).
// Levels below the range take the bottom colour, above it the top colour.
#pragma once

#include <vector>

#include "tools/arrayhost/canvas.h"

namespace arrayhost {

class ColourScale {
public:
    // The top is the loudest level rounded up to a whole tick.
    ColourScale(double loudestDb, double rangeDb);

    Rgb operator()(double levelDb) const;
    double topDb() const { return topDb_; }
    double bottomDb() const { return topDb_ - rangeDb_; }
    double tickStepDb() const { return tickStepDb_; }
    // Levels of the ticks, bottom to top, both ends included.
    std::vector<double> ticks() const;

private:
    double rangeDb_, tickStepDb_, topDb_;
};

}  // namespace arrayhost
