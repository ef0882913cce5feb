#include "tools/balloon/polar_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "acoustics/bands.h"

namespace balloon {

namespace {

using acoustics::kGridStepDeg;
using acoustics::kPolarCount;

constexpr double kPi = 3.141592653589793;
constexpr double kPanelPx = 2.0 * kPlotRadiusPx + 80.0;

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

// One plane: the two meridians that make it up, drawn on the right and on
// the left of the axis.
std::string panel(const Balloon& balloon, int band, int rightMeridianDeg, int leftMeridianDeg, double centreX,
                  double centreY, const std::string& label, const std::string& rightName,
                  const std::string& leftName) {
    std::string svg;
    for (double ringDb = 0.0; ringDb < kPlotRangeDb; ringDb += 10.0) {
        svg += "<circle cx=\"" + number(centreX) + "\" cy=\"" + number(centreY) + "\" r=\"" +
               number(plotRadiusPx(-ringDb)) + "\" fill=\"none\" stroke=\"#bbb\"/>\n";
        svg += "<text x=\"" + number(centreX + 3) + "\" y=\"" + number(centreY - plotRadiusPx(-ringDb) + 12) +
               "\" font-size=\"10\" fill=\"#888\">" + (ringDb == 0.0 ? "0" : "-" + std::to_string(int(ringDb))) +
               " dB</text>\n";
    }
    for (int spokeDeg = 0; spokeDeg < 360; spokeDeg += 30) {
        const double a = spokeDeg * kPi / 180.0;
        svg += "<line x1=\"" + number(centreX) + "\" y1=\"" + number(centreY) + "\" x2=\"" +
               number(centreX + kPlotRadiusPx * std::sin(a)) + "\" y2=\"" +
               number(centreY - kPlotRadiusPx * std::cos(a)) + "\" stroke=\"#ddd\"/>\n";
    }
    // Right half from the axis round to the rear, then the left half back.
    std::string points;
    auto add = [&](int meridianDeg, int polar, double side) {
        const double level = balloon[acoustics::balloonIndex(band, meridianDeg / kGridStepDeg, polar)];
        const double a = side * polar * kGridStepDeg * kPi / 180.0;
        const double r = plotRadiusPx(level);
        points += number(centreX + r * std::sin(a)) + "," + number(centreY - r * std::cos(a)) + " ";
    };
    for (int p = 0; p < kPolarCount; ++p) add(rightMeridianDeg, p, 1.0);
    for (int p = kPolarCount - 1; p >= 0; --p) add(leftMeridianDeg, p, -1.0);
    svg += "<polyline class=\"pattern\" points=\"" + points + "\" fill=\"none\" stroke=\"#c00\" stroke-width=\"2\"/>\n";
    svg += "<text x=\"" + number(centreX) + "\" y=\"" + number(centreY + kPlotRadiusPx + 30) +
           "\" font-size=\"14\" text-anchor=\"middle\">" + label + "</text>\n";
    svg += "<text x=\"" + number(centreX + kPlotRadiusPx) + "\" y=\"" + number(centreY - kPlotRadiusPx) +
           "\" font-size=\"11\" text-anchor=\"end\">" + rightName + " &#8594;</text>\n";
    svg += "<text x=\"" + number(centreX - kPlotRadiusPx) + "\" y=\"" + number(centreY - kPlotRadiusPx) +
           "\" font-size=\"11\">&#8592; " + leftName + "</text>\n";
    return svg;
}

}  // namespace

double plotRadiusPx(double levelDb) {
    return kPlotRadiusPx * std::clamp((levelDb + kPlotRangeDb) / kPlotRangeDb, 0.0, 1.0);
}

std::string polarPlotSvg(const Balloon& balloon, int band, const std::string& title) {
    const double width = 2.0 * kPanelPx;
    const double height = kPanelPx + 40.0;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
                      number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) + "\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + number(width / 2) + "\" y=\"24\" font-size=\"16\" text-anchor=\"middle\">" + title + ", " +
           std::to_string(static_cast<int>(acoustics::bandCentreHz(band))) + " Hz (axis up)</text>\n";
    const double centreY = 40.0 + kPanelPx / 2.0;
    svg += panel(balloon, band, 90, 270, kPanelPx / 2.0, centreY, "horizontal plane", "90", "270");
    svg += panel(balloon, band, 0, 180, kPanelPx * 1.5, centreY, "vertical plane", "0 (up)", "180 (down)");
    svg += "</svg>\n";
    return svg;
}

}  // namespace balloon
