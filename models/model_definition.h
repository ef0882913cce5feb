// The constant record that makes a build one product: names, setup format,
// cabinet geometry, angle convention, dialog rules and acoustic data.
#pragma once

#include <cstdint>

#include "models/angle_convention.h"

namespace models {

inline constexpr int kBandCount = 21;
inline constexpr int kCellCapacity = 16;
inline constexpr int kMaxCabinetKinds = 3;
inline constexpr int kKindNameSize = 5;  // four characters and the NUL

inline constexpr int32_t kInterfaceVersion = 1000000;
inline constexpr char kDataResolutionText[] = "Based on 5\xB0 complex full sphere";
// Every band carries data in every product (-1 is true to the host).
inline constexpr int32_t kEveryBandValid[kBandCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

enum class CabinetShape { FrontRecess, RearNotch };

// Where the layout puts cell 1.
enum class FirstCellRule {
    TakesArrayPose,   // cell 1 has the array pose; its splay is not read
    HangsFromBumper,  // cell 1 turns by its own splay about the bumper pivot
};

// How the transition distance L^2 f / 700 is rounded: both forms are kept
// because stored results of each product depend on them to the last bit.
enum class TransitionDivision { MultiplyBySinglePrecisionReciprocal, DivideBy700 };

struct CabinetDimensions {
    float depthM;
    float frontHeightM;
    float rearHeightM;
    float widthM;
};

// Front-recess cabinet: the central channel in the front.
struct RecessDimensions {
    float mouthHalfWidthM;   // Rf
    float floorHalfWidthM;   // Rw
    float floorHalfHeightM;  // Rh
    float floorForwardM;     // Rd, in front of the reference point
};

// Rear-notch cabinet: the recessed section in the rear.
struct NotchDimensions {
    float widthM;        // Nw
    float floorHeightM;  // Nh
    float depthM;        // Nd, in from the rear
};

struct SplayRule {
    float stepDeg;
    float lowDeg;
    float highDeg;
};

struct DialogRules {
    const char* title;
    SplayRule firstCell;
    SplayRule otherCells;
    bool snapsToWholeDegree;
};

struct PixelRect {
    int32_t left, top, right, bottom;
};

struct PixelBox {
    int32_t x, y, width, height;
};

struct PreviewConstants {
    int32_t bitmapWidthPx;
    int32_t bitmapHeightPx;
    int32_t spanXPx;
    int32_t spanYPx;
    int32_t marginPx;
    int32_t aspectWidth;   // width : height of the fitted extents
    int32_t aspectHeight;
    PixelRect previewRect;
    PixelBox destination;  // where the shrunk bitmap lands
};

// Acoustic data of one deliverable, per cabinet kind: on-axis level at 1 m
// (dB, filter at 0 dB) and directivity factor of every band, and the
// directivity balloon (dB re on axis, 21 x 72 x 37 values, band, meridian,
// polar order). Entries past the model's kind count are unused.
struct AcousticTables {
    const float* onAxisLevelDb[kMaxCabinetKinds];
    const float* directivityFactor[kMaxCabinetKinds];
    const float* balloonDb[kMaxCabinetKinds];
    const int32_t* validBandFlags = kEveryBandValid;
    const char* dataResolutionText = kDataResolutionText;
};

struct ModelDefinition {
    const char* displayName;
    const char* manufacturer;

    // Setup blob: magic word and the fewest cell entries accepted.
    uint32_t setupMagic;
    bool cellsCarryKind;  // entries are (i32 kind, f32 splay) instead of f32 splay
    int32_t fewestSetupEntries;

    int32_t defaultCellCount;
    int32_t defaultKind;
    int32_t kindCount;
    char kindNames[kMaxCabinetKinds][kKindNameSize];

    CabinetShape shape;
    CabinetDimensions cabinet;
    RecessDimensions recess;
    NotchDimensions notch;
    int32_t meshEdgesPerCell;

    AngleConvention angles;
    FirstCellRule firstCell;
    TransitionDivision transitionDivision;

    DialogRules dialog;
    PreviewConstants preview;

    AcousticTables acoustic;

    constexpr int32_t setupEntryBytes() const { return cellsCarryKind ? 8 : 4; }
};

}  // namespace models
