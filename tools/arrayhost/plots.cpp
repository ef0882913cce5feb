#include "tools/arrayhost/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/arrayhost/colour_scale.h"

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr Rgb kInk{20, 20, 20};
constexpr Rgb kGreyInk{90, 90, 90};
constexpr Rgb kRayInk{150, 150, 150};
constexpr int kTitleScale = 3, kLabelScale = 2;

std::string tickText(double v, double step) {
    char text[32];
    if (std::fabs(v) < step * 1e-6) v = 0;  // no "-0"
    std::snprintf(text, sizeof text, step < 1 ? "%.1f" : "%.0f", v);
    return text;
}

// A rectangle of the canvas showing [xMin, xMax] x [yMin, yMax] at one scale
// for both axes, centred in the space it is given.
struct Frame {
    int left, top, right, bottom;  // pixels, right and bottom exclusive
    double xMin, xMax, yMin, yMax;
    double pxPerM;

    Frame(int areaLeft, int areaTop, int areaRight, int areaBottom, double x0, double x1, double y0, double y1)
        : xMin(x0), xMax(x1), yMin(y0), yMax(y1) {
        pxPerM = std::min((areaRight - areaLeft) / (x1 - x0), (areaBottom - areaTop) / (y1 - y0));
        const int w = int(std::lround((x1 - x0) * pxPerM)), h = int(std::lround((y1 - y0) * pxPerM));
        left = areaLeft + (areaRight - areaLeft - w) / 2;
        top = areaTop + (areaBottom - areaTop - h) / 2;
        right = left + w;
        bottom = top + h;
    }
    double px(double x) const { return left + (x - xMin) * pxPerM; }
    double py(double y) const { return top + (yMax - y) * pxPerM; }
};

void drawAxes(Canvas& c, const Frame& f, const std::string& xLabel, const std::string& yLabel) {
    c.frameRect(f.left - 1, f.top - 1, f.right + 1, f.bottom + 1, kInk);
    const double xStep = niceStep(f.xMax - f.xMin, 6), yStep = niceStep(f.yMax - f.yMin, 6);
    const int h = Canvas::textHeight(kLabelScale);
    int widest = 0;
    for (double x = std::ceil(f.xMin / xStep - 1e-9) * xStep; x <= f.xMax + 1e-9; x += xStep) {
        const int px = int(std::lround(f.px(x)));
        c.fillRect(px, f.bottom, px + 1, f.bottom + 6, kInk);
        const std::string t = tickText(x, xStep);
        c.text(px - Canvas::textWidth(t, kLabelScale) / 2, f.bottom + 10, t, kInk, kLabelScale);
    }
    for (double y = std::ceil(f.yMin / yStep - 1e-9) * yStep; y <= f.yMax + 1e-9; y += yStep) {
        const int py = int(std::lround(f.py(y)));
        c.fillRect(f.left - 6, py, f.left, py + 1, kInk);
        const std::string t = tickText(y, yStep);
        const int w = Canvas::textWidth(t, kLabelScale);
        widest = std::max(widest, w);
        c.text(f.left - 10 - w, py - h / 2, t, kInk, kLabelScale);
    }
    c.text((f.left + f.right - Canvas::textWidth(xLabel, kLabelScale)) / 2, f.bottom + 16 + h, xLabel, kInk,
           kLabelScale);
    c.textUp(f.left - 22 - widest - h, (f.top + f.bottom - Canvas::textWidth(yLabel, kLabelScale)) / 2, yLabel,
             kInk, kLabelScale);
}

void drawTitles(Canvas& c, const std::string& title, const std::string& subtitle) {
    c.text(24, 18, title, kInk, kTitleScale);
    c.text(24, 18 + Canvas::textHeight(kTitleScale) + 12, subtitle, kGreyInk, kLabelScale);
}

Rgb darker(Rgb c) { return {uint8_t(c.r * 0.45), uint8_t(c.g * 0.45), uint8_t(c.b * 0.45)}; }

void drawMarker(Canvas& c, double px, double py, const std::string& label) {
    const int r = 6;
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
            const int d2 = dx * dx + dy * dy;
            if (d2 <= r * r) c.set(int(px) + dx, int(py) + dy, d2 >= (r - 2) * (r - 2) ? kInk : kWhite);
        }
    }
    const int w = Canvas::textWidth(label, kLabelScale), h = Canvas::textHeight(kLabelScale);
    const int tx = int(px) + r + 4, ty = int(py) - h / 2;
    c.fillRect(tx - 2, ty - 3, tx + w + 2, ty + h + 3, kWhite);
    c.text(tx, ty, label, kInk, kLabelScale);
}

}  // namespace

double niceStep(double span, int ticks) {
    const double raw = span / std::max(ticks, 1);
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * decade >= raw * 0.999) return m * decade;
    }
    return 10 * decade;
}

Canvas drawCoverageMap(const CoverageMap& map, int layer, double rangeDb, const MapLabels& labels) {
    Canvas c(kMapImageWidth, kMapImageHeight, kWhite);
    drawTitles(c, labels.title, labels.subtitle);
    const AudiencePlane& plane = map.plane();
    const Frame f(110, 120, kMapImageWidth - 190, kMapImageHeight - 80, plane.xMinM, plane.xMaxM, plane.yMinM,
                  plane.yMaxM);
    const float loudestDb = map.loudest(layer).levelDb;
    const ColourScale scale(std::isnan(loudestDb) ? 0.0 : double(loudestDb), rangeDb);

    // Levels per pixel, then colours with a darker line where a tick is crossed.
    const int w = f.right - f.left, h = f.bottom - f.top;
    std::vector<double> level(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            level[size_t(y) * w + x] = map.interpolate(layer, plane.xMinM + (x + 0.5) / f.pxPerM,
                                                       plane.yMaxM - (y + 0.5) / f.pxPerM);
        }
    }
    auto step = [&](double l) { return std::floor((l - scale.bottomDb()) / scale.tickStepDb()); };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double l = level[size_t(y) * w + x];
            // Seats whose level is not a number, and the pixels between them
            // and their neighbours, are flagged in grey, off the scale.
            if (std::isnan(l)) {
                c.set(f.left + x, f.top + y, kNotANumberGrey);
                continue;
            }
            Rgb colour = scale(l);
            const bool inRange = l > scale.bottomDb();
            const bool crossesRight = x + 1 < w && step(level[size_t(y) * w + x + 1]) != step(l);
            const bool crossesDown = y + 1 < h && step(level[size_t(y + 1) * w + x]) != step(l);
            if (inRange && (crossesRight || crossesDown)) colour = darker(colour);
            c.set(f.left + x, f.top + y, colour);
        }
    }
    drawAxes(c, f, "x (m)", "y (m)");
    for (const MapMarker& m : labels.markers) drawMarker(c, f.px(m.xM), f.py(m.yM), m.label);

    // The colour bar, loudest at the top.
    const int barLeft = f.right + 40, barRight = barLeft + 24;
    for (int y = f.top; y < f.bottom; ++y) {
        const double l = scale.topDb() - (y - f.top + 0.5) / (f.bottom - f.top) * rangeDb;
        c.fillRect(barLeft, y, barRight, y + 1, scale(l));
    }
    c.frameRect(barLeft - 1, f.top - 1, barRight + 1, f.bottom + 1, kInk);
    for (double tick : scale.ticks()) {
        const int y = int(std::lround(f.top + (scale.topDb() - tick) / rangeDb * (f.bottom - f.top)));
        c.fillRect(barRight, y, barRight + 6, y + 1, kInk);
        c.text(barRight + 10, y - Canvas::textHeight(kLabelScale) / 2, tickText(tick, scale.tickStepDb()), kInk,
               kLabelScale);
    }
    c.text(barLeft, f.top - Canvas::textHeight(kLabelScale) - 20, labels.unit, kInk, kLabelScale);
    return c;
}

Canvas drawSideView(const Mesh& mesh, const std::vector<CellPose>& poses, const Vec3& arrayPositionM,
                    const Vec3& arrayAnglesDeg, const std::string& title) {
    Canvas c(kSideImageWidth, kSideImageHeight, kWhite);
    drawTitles(c, title, "cabinet mesh in its y-z plane, tilted as hung; dashed: cell aims");

    // Forward (-y of the mesh) and up (z), turned by the array's tilt.
    const double tilt = arrayAnglesDeg.y * kPi / 180.0;
    struct Point {
        double forward, height;
    };
    std::vector<Point> points;
    for (const auto& v : mesh.vertices) {
        const double f = -double(v.y), u = double(v.z);
        points.push_back({f * std::cos(tilt) - u * std::sin(tilt), f * std::sin(tilt) + u * std::cos(tilt) +
                                                                      arrayPositionM.z});
    }
    const int cells = int(poses.size());
    const int perCell = cells > 0 ? int(points.size()) / cells : 0;
    std::vector<Point> centres(size_t(cells), Point{0, 0});
    for (int cell = 0; cell < cells && perCell > 0; ++cell) {
        for (int j = 0; j < perCell; ++j) {
            centres[cell].forward += points[size_t(cell * perCell + j)].forward / perCell;
            centres[cell].height += points[size_t(cell * perCell + j)].height / perCell;
        }
    }
    double fMin = 0, fMax = 0, hMin = arrayPositionM.z, hMax = arrayPositionM.z;
    for (const Point& p : points) {
        fMin = std::min(fMin, p.forward);
        fMax = std::max(fMax, p.forward);
        hMin = std::min(hMin, p.height);
        hMax = std::max(hMax, p.height);
    }
    const double rayM = std::max(1.5, 0.6 * (hMax - hMin));
    std::vector<Point> rayEnds;
    for (int cell = 0; cell < cells; ++cell) {
        const double aim = poses[cell].anglesDeg.y * kPi / 180.0;
        rayEnds.push_back({centres[cell].forward + rayM * std::cos(aim), centres[cell].height + rayM * std::sin(aim)});
        fMax = std::max(fMax, rayEnds.back().forward);
        hMin = std::min(hMin, rayEnds.back().height);
        hMax = std::max(hMax, rayEnds.back().height);
    }
    const double pad = 0.08 * std::max(fMax - fMin, hMax - hMin) + 0.1;
    const Frame f(110, 110, kSideImageWidth - 40, kSideImageHeight - 80, fMin - pad, fMax + pad, hMin - pad,
                  hMax + pad);

    for (int cell = 0; cell < cells; ++cell) {
        c.dashedLine(f.px(centres[cell].forward), f.py(centres[cell].height), f.px(rayEnds[cell].forward),
                     f.py(rayEnds[cell].height), kRayInk, 6);
    }
    for (const auto& e : mesh.edges) {
        const size_t a = size_t(std::abs(e.from)) - 1, b = size_t(std::abs(e.to)) - 1;
        if (a >= points.size() || b >= points.size()) continue;
        c.line(f.px(points[a].forward), f.py(points[a].height), f.px(points[b].forward), f.py(points[b].height),
               kCabinetInk, 2);
    }
    // Each cell's number behind the middle of its rear, along its own aim.
    for (int cell = 0; cell < cells && perCell > 0; ++cell) {
        const double aim = poses[cell].anglesDeg.y * kPi / 180.0;
        const double af = std::cos(aim), ah = std::sin(aim);
        Point rear{0, 0};
        int count = 0;
        for (int j = 0; j < perCell; ++j) {
            const Point& p = points[size_t(cell * perCell + j)];
            if ((p.forward - centres[cell].forward) * af + (p.height - centres[cell].height) * ah < 0) {
                rear.forward += p.forward, rear.height += p.height, ++count;
            }
        }
        if (count == 0) continue;
        const double x = f.px(rear.forward / count) - 8 * af, y = f.py(rear.height / count) + 8 * ah;
        const std::string number = std::to_string(cell + 1);
        c.text(int(x) - Canvas::textWidth(number, kLabelScale), int(y) - Canvas::textHeight(kLabelScale) / 2, number,
               kGreyInk, kLabelScale);
    }
    drawAxes(c, f, "in front of the array (m)", "height (m)");
    return c;
}

Canvas drawLevelAgainstDistance(const std::vector<ProfileCurve>& curves, const std::string& title,
                                const std::string& subtitle) {
    Canvas c(kProfileImageWidth, kProfileImageHeight, kWhite);
    drawTitles(c, title, subtitle);
    double dMin = HUGE_VAL, dMax = 0, lMin = HUGE_VAL, lMax = -HUGE_VAL;
    for (const ProfileCurve& curve : curves) {
        for (size_t i = 0; i < curve.distanceM.size(); ++i) {
            dMin = std::min(dMin, curve.distanceM[i]);
            dMax = std::max(dMax, curve.distanceM[i]);
            const bool band = !curve.lowDb.empty();
            lMin = std::min(lMin, band ? curve.lowDb[i] : curve.levelDb[i]);
            lMax = std::max(lMax, band ? curve.highDb[i] : curve.levelDb[i]);
        }
    }
    if (!(dMax > dMin)) dMin = 1, dMax = 2;
    if (!(lMax > lMin)) lMin = 0, lMax = 1;
    const double lStep = niceStep(lMax - lMin, 8);
    lMin = std::floor(lMin / lStep) * lStep;
    lMax = std::ceil(lMax / lStep) * lStep;
    const double xMin = std::log2(dMin) - 0.05, xMax = std::log2(dMax) + 0.05;
    const int left = 110, top = 120, right = kProfileImageWidth - 290, bottom = kProfileImageHeight - 80;
    auto px = [&](double dM) { return left + (std::log2(dM) - xMin) / (xMax - xMin) * (right - left); };
    auto py = [&](double l) { return bottom - (l - lMin) / (lMax - lMin) * (bottom - top); };

    // Grid and axes: distances at round values, levels at round steps.
    constexpr Rgb kGrid{225, 225, 225};
    const int h = Canvas::textHeight(kLabelScale);
    for (double d : {0.5, 1.0, 2.0, 3.0, 4.0, 5.0, 7.0, 10.0, 12.0, 15.0, 20.0, 25.0, 30.0, 40.0, 50.0, 70.0, 100.0,
                     150.0, 200.0}) {
        if (d < dMin * 0.97 || d > dMax * 1.03) continue;
        const int x = int(std::lround(px(d)));
        c.fillRect(x, top, x + 1, bottom, kGrid);
        c.fillRect(x, bottom, x + 1, bottom + 6, kInk);
        const std::string t = tickText(d, d < 1 ? 0.5 : 1);
        c.text(x - Canvas::textWidth(t, kLabelScale) / 2, bottom + 10, t, kInk, kLabelScale);
    }
    int widest = 0;
    for (double l = lMin; l <= lMax + 1e-9; l += lStep) {
        const int y = int(std::lround(py(l)));
        c.fillRect(left, y, right, y + 1, kGrid);
        c.fillRect(left - 6, y, left, y + 1, kInk);
        const std::string t = tickText(l, lStep);
        widest = std::max(widest, Canvas::textWidth(t, kLabelScale));
        c.text(left - 10 - Canvas::textWidth(t, kLabelScale), y - h / 2, t, kInk, kLabelScale);
    }
    c.frameRect(left - 1, top - 1, right + 1, bottom + 1, kInk);
    const std::string xLabel = "distance from the array position (m, logarithmic)", yLabel = "level (dB, dB(A))";
    c.text((left + right - Canvas::textWidth(xLabel, kLabelScale)) / 2, bottom + 16 + h, xLabel, kInk, kLabelScale);
    c.textUp(left - 22 - widest - h, (top + bottom - Canvas::textWidth(yLabel, kLabelScale)) / 2, yLabel, kInk,
             kLabelScale);

    // Bands first, column by column between their neighbouring points.
    for (const ProfileCurve& curve : curves) {
        if (curve.lowDb.empty()) continue;
        for (size_t i = 1; i < curve.distanceM.size(); ++i) {
            if (!curve.segment.empty() && curve.segment[i] != curve.segment[i - 1]) continue;
            const double x0 = px(curve.distanceM[i - 1]), x1 = px(curve.distanceM[i]);
            for (int x = int(std::ceil(std::min(x0, x1))); x <= int(std::floor(std::max(x0, x1))); ++x) {
                const double t = x1 != x0 ? (x - x0) / (x1 - x0) : 0.0;
                const double high = py(curve.highDb[i - 1] + t * (curve.highDb[i] - curve.highDb[i - 1]));
                const double low = py(curve.lowDb[i - 1] + t * (curve.lowDb[i] - curve.lowDb[i - 1]));
                c.fillRect(x, int(std::floor(high)), x + 1, int(std::ceil(low)) + 1, curve.colour);
            }
        }
    }
    for (const ProfileCurve& curve : curves) {
        if (!curve.lowDb.empty()) continue;
        for (size_t i = 1; i < curve.distanceM.size(); ++i) {
            if (!curve.segment.empty() && curve.segment[i] != curve.segment[i - 1]) continue;
            const double x0 = px(curve.distanceM[i - 1]), y0 = py(curve.levelDb[i - 1]);
            const double x1 = px(curve.distanceM[i]), y1 = py(curve.levelDb[i]);
            if (curve.dashed) c.dashedLine(x0, y0, x1, y1, curve.colour, 5);
            else c.line(x0, y0, x1, y1, curve.colour, curve.thickness);
        }
    }
    // The legend, to the right of the plot.
    int y = top;
    for (const ProfileCurve& curve : curves) {
        const int x = right + 24;
        if (!curve.lowDb.empty()) c.fillRect(x, y, x + 36, y + h, curve.colour);
        else if (curve.dashed) c.dashedLine(x, y + h / 2, x + 36, y + h / 2, curve.colour, 5);
        else c.line(x, y + h / 2, x + 36, y + h / 2, curve.colour, curve.thickness);
        c.text(x + 44, y, curve.label, kInk, kLabelScale);
        y += h + 10;
    }
    return c;
}

}  // namespace arrayhost
