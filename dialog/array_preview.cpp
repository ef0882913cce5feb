#include "dialog/array_preview.h"

#include <algorithm>
#include <cmath>

namespace dialog {

using geometry::Angle;
using geometry::polarStep;

namespace {

// Far outside any bitmap, yet safe to hand to the drawing calls.
constexpr float kPixelLimit = 1 << 20;

int32_t truncatedPixel(float v) {
    if (!(v > -kPixelLimit)) return -int32_t(kPixelLimit);  // also NaN
    if (v > kPixelLimit) return int32_t(kPixelLimit);
    return int32_t(v);
}

void include(PreviewExtents& e, const Vector2& p) {
    // A NaN corner never wins a comparison, so it cannot poison the box.
    e.maxX = std::max(e.maxX, p.x);
    e.minX = std::min(e.minX, p.x);
    e.maxY = std::max(e.maxY, p.y);
    e.minY = std::min(e.minY, p.y);
}

}  // namespace

ArrayPreview::ArrayPreview(const models::ModelDefinition& model)
    : constants_(model.preview),
      halfDepthM_(model.cabinet.depthM / 2.0f),
      halfFrontHeightM_(model.cabinet.frontHeightM / 2.0f),
      halfRearHeightM_(model.cabinet.rearHeightM / 2.0f) {}

void ArrayPreview::run(int32_t cellCount, const float* splaysDeg) {
    cellCount_ = std::clamp<int32_t>(cellCount, 0, models::kCellCapacity);
    const float d = halfDepthM_;
    const float f = halfFrontHeightM_;
    const float r = halfRearHeightM_;

    extents_ = PreviewExtents{};  // the origin is always inside
    Angle theta = Angle::fromDegrees(cellCount_ > 0 ? -splaysDeg[0] : 0.0f);
    Vector2 centre;
    for (int32_t i = 0; i < cellCount_; ++i) {
        const Angle forward = theta;               // u
        const Angle up = theta.turnedBy90();       // v
        const Angle down = theta.turnedByMinus90();  // -v
        const Angle back = theta.turnedBy180();    // -u

        aimDeg_[i] = theta.degrees();
        CellOutline& cell = outlines_[i];
        cell.centre = centre;
        cell.frontTop = polarStep(polarStep(centre, forward, d), up, f);
        cell.frontBottom = polarStep(polarStep(centre, forward, d), down, f);
        cell.rearTop = polarStep(polarStep(centre, back, d), up, r);
        cell.rearBottom = polarStep(polarStep(centre, back, d), down, r);
        include(extents_, cell.frontTop);
        include(extents_, cell.frontBottom);
        include(extents_, cell.rearTop);
        include(extents_, cell.rearBottom);

        if (i + 1 < cellCount_) {
            // The next cell hangs from this one's front bottom corner, tilted
            // down by its own splay.
            theta = theta.minus(Angle::fromDegrees(splaysDeg[i + 1]));
            centre = polarStep(polarStep(cell.frontBottom, theta.turnedBy180(), d),
                               theta.turnedByMinus90(), f);
        }
    }

    PreviewExtents& e = extents_;
    e.width = e.maxX - e.minX;
    e.height = e.maxY - e.minY;
    // Widen the box in one direction only, about its centre, to the aspect of
    // the field.
    const float aspectWidth = float(constants_.aspectWidth);
    const float aspectHeight = float(constants_.aspectHeight);
    const float heightForWidth = e.width * aspectHeight / aspectWidth;
    if (heightForWidth > e.height) {
        const float c = (heightForWidth - e.height) / 2.0f;
        e.maxY += c;
        e.minY -= c;
        e.height = e.maxY - e.minY;
    } else {
        const float c = (e.height * aspectWidth / aspectHeight - e.width) / 2.0f;
        e.maxX += c;
        e.minX -= c;
        e.width = e.maxX - e.minX;
    }
}

PixelPoint ArrayPreview::toPixel(const Vector2& p) const {
    const PreviewExtents& e = extents_;
    const float margin = float(constants_.marginPx);
    return {truncatedPixel((p.x - e.minX) / e.width * float(constants_.spanXPx) + margin),
            truncatedPixel((e.maxY - p.y) / e.height * float(constants_.spanYPx) + margin)};
}

void ArrayPreview::pixelCorners(int32_t n, PixelPoint (&corners)[4]) const {
    const CellOutline& cell = outline(n);
    corners[0] = toPixel(cell.frontTop);
    corners[1] = toPixel(cell.frontBottom);
    corners[2] = toPixel(cell.rearBottom);
    corners[3] = toPixel(cell.rearTop);
}

int32_t halfMetreLines(float low, float high, float* linesM, int32_t capacity) {
    const float first = std::floor(2.0f * low) / 2.0f;
    const float last = std::ceil(2.0f * high) / 2.0f;
    int32_t count = 0;
    // The running value is single precision; the 0.05 absorbs its drift so
    // that the line on the upper limit is drawn.
    for (float v = first; v - 0.05f <= last && count < capacity; v += ArrayPreview::kGridStepM) {
        linesM[count++] = v;
    }
    return count;
}

GridLines ArrayPreview::gridLines() const {
    GridLines lines;
    const PreviewExtents& e = extents_;
    if (empty() || !(e.width > 0.0f) || !(e.height > 0.0f)) return lines;
    lines.verticalCount = halfMetreLines(e.minX, e.maxX, lines.xM, GridLines::kMaxLines);
    lines.horizontalCount = halfMetreLines(e.minY, e.maxY, lines.yM, GridLines::kMaxLines);
    for (int32_t i = 0; i < lines.verticalCount; ++i) lines.xPx[i] = toPixel({lines.xM[i], 0.0f}).x;
    for (int32_t i = 0; i < lines.horizontalCount; ++i) lines.yPx[i] = toPixel({0.0f, lines.yM[i]}).y;
    return lines;
}

}  // namespace dialog
