// The side view of an array in the setup dialog: cell outlines hung from one
// another at their front edges by the edited splays, the box that holds them
// widened to the preview's aspect, each cell's aim angle, and the mapping of
// that box onto the off-screen bitmap. Independent of the array layout: a
// construction of its own in the plane of the splays.
#pragma once

#include <cstdint>

#include "geometry/plane.h"
#include "models/model_definition.h"

namespace dialog {

using geometry::Vector2;

// x grows toward the front of the array, y upward; metres. Cell 1's centre is
// the origin.
struct CellOutline {
    Vector2 centre;
    Vector2 frontTop;     // A
    Vector2 frontBottom;  // B
    Vector2 rearTop;      // C
    Vector2 rearBottom;   // D
};

struct PreviewExtents {
    float maxX = 0.0f;
    float maxY = 0.0f;
    float minX = 0.0f;
    float minY = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

struct PixelPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Positions of the half-metre grid, in metres and in bitmap pixels.
struct GridLines {
    static constexpr int kMaxLines = 64;  // far beyond what 16 cells can span
    int32_t verticalCount = 0;
    int32_t horizontalCount = 0;
    float xM[kMaxLines] = {};
    float yM[kMaxLines] = {};
    int32_t xPx[kMaxLines] = {};
    int32_t yPx[kMaxLines] = {};
};

// Multiples of half a metre from the one at or below `low` to the one at or
// above `high`, stepped in single precision; at most `capacity` of them.
int32_t halfMetreLines(float low, float high, float* linesM, int32_t capacity);

class ArrayPreview {
public:
    static constexpr float kGridStepM = 0.5f;

    explicit ArrayPreview(const models::ModelDefinition& model);

    // The preview pass: outlines, extents and aim angles of cells 1..cellCount
    // from their splays in degrees. cellCount is taken within 0..16.
    void run(int32_t cellCount, const float* splaysDeg);

    int32_t cellCount() const { return cellCount_; }
    bool empty() const { return cellCount_ == 0; }
    // n from 1 to cellCount().
    const CellOutline& outline(int32_t n) const { return outlines_[n - 1]; }
    // Tilt of cell n in the side view: the negated running sum of the splays.
    float aimDeg(int32_t n) const { return aimDeg_[n - 1]; }
    // After the aspect fit.
    const PreviewExtents& extents() const { return extents_; }
    // Dialog client pixels: the region repainted on every refresh.
    const models::PixelRect& previewRect() const { return constants_.previewRect; }
    const models::PreviewConstants& constants() const { return constants_; }

    // World to bitmap pixel, truncated toward zero. Only meaningful while the
    // preview has cells; coordinates that are not finite land far outside the
    // bitmap instead of overflowing.
    PixelPoint toPixel(const Vector2& p) const;
    // Corners of cell n in bitmap pixels, in the order they are drawn: A, B, D, C.
    void pixelCorners(int32_t n, PixelPoint (&corners)[4]) const;
    // Grid lines on multiples of half a metre covering the extents; none
    // while the preview is empty.
    GridLines gridLines() const;

private:
    models::PreviewConstants constants_;
    float halfDepthM_;
    float halfFrontHeightM_;
    float halfRearHeightM_;

    int32_t cellCount_ = 0;
    CellOutline outlines_[models::kCellCapacity] = {};
    float aimDeg_[models::kCellCapacity] = {};
    PreviewExtents extents_;
};

}  // namespace dialog
