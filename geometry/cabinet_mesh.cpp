#include "geometry/cabinet_mesh.h"

#include <cmath>

#include "geometry/scalar.h"

namespace geometry {

namespace {

constexpr uint32_t kFaceWord = 0x101010u;

// Vertex numbers: 1 front top outer, 2 front top recess mouth, 3 recess floor
// top, 4-6 the same at the bottom, 7 rear top outer, 8 rear bottom outer.
constexpr MeshEdge kFrontRecessEdges[15] = {
    {1, 2}, {2, 3}, {4, 5}, {5, 6}, {1, 4}, {2, 5}, {3, 6}, {3, -3},
    {6, -6}, {1, 7}, {7, 8}, {8, 4}, {4, 1}, {7, -7}, {8, -8},
};
constexpr MeshFace kFrontRecessFaces[kMeshFacesPerCell] = {
    {4, {1, 7, 8, 4}},                  // side panel
    {4, {1, 4, 5, 2}},                  // front panel beside the recess
    {4, {2, 5, 6, 3}},                  // recess side wall
    {4, {3, 6, -6, -3}},                // recess floor
    {4, {7, -7, -8, 8}},                // rear panel
    {8, {1, 2, 3, -3, -2, -1, -7, 7}},  // top panel
    {8, {4, 8, -8, -4, -5, -6, 6, 5}},  // bottom panel
};

// Vertex numbers: 1 front top outer, 2 rear top outer, 3 rear top notch edge,
// 4 notch floor top, 5-8 the same at the bottom.
constexpr MeshEdge kRearNotchEdges[14] = {
    {1, 2}, {2, 3}, {3, 4}, {5, 6}, {6, 7}, {7, 8}, {1, 5},
    {2, 6}, {3, 7}, {4, 8}, {1, -1}, {5, -5}, {4, -4}, {8, -8},
};
constexpr MeshFace kRearNotchFaces[kMeshFacesPerCell] = {
    {4, {1, 2, 6, 5}},                  // side panel
    {4, {1, 5, -5, -1}},                // front panel
    {4, {2, 3, 7, 6}},                  // rear panel beside the notch
    {4, {3, 4, 8, 7}},                  // notch side wall
    {4, {4, -4, -8, 8}},                // notch floor
    {8, {1, -1, -2, -3, -4, 4, 3, 2}},  // top panel
    {8, {5, 6, 7, 8, -8, -7, -6, -5}},  // bottom panel
};

double hypotenuse(double a, double b) { return std::sqrt(a * a + b * b); }

// An edge or face stands for itself and its mirror image unless it reaches
// across the mirror plane.
int32_t mirrorFlag(const int8_t* vertices, int count) {
    for (int i = 0; i < count; ++i) {
        if (vertices[i] < 0) return 0;
    }
    return 1;
}

int32_t arrayIndex(int cell, int8_t local) {
    const int32_t index = kMeshVerticesPerCell * cell + (local < 0 ? -local : local);
    return local < 0 ? -index : index;
}

}  // namespace

CabinetShapeMesh makeCabinetShapeMesh(const models::ModelDefinition& model) {
    const double w = model.cabinet.widthM, d = model.cabinet.depthM;
    const double hf = model.cabinet.frontHeightM, hr = model.cabinet.rearHeightM;
    const float halfW = float(w / 2), halfD = float(d / 2), halfHf = float(hf / 2), halfHr = float(hr / 2);
    // Slant length of the top and bottom panels, front edge to rear edge.
    const double panelSlant = hypotenuse((hf - hr) / 2, d);

    CabinetShapeMesh mesh{};
    if (model.shape == models::CabinetShape::FrontRecess) {
        const models::RecessDimensions& r = model.recess;
        const double rf = r.mouthHalfWidthM, rw = r.floorHalfWidthM, rh = r.floorHalfHeightM,
                     rd = r.floorForwardM;
        const CabinetPoint v[kMeshVerticesPerCell] = {
            {halfW, halfD, halfHf},   {float(rf), halfD, halfHf},   {float(rw), float(rd), float(rh)},
            {halfW, halfD, -halfHf},  {float(rf), halfD, -halfHf},  {float(rw), float(rd), float(-rh)},
            {halfW, -halfD, halfHr},  {halfW, -halfD, -halfHr},
        };
        for (int i = 0; i < kMeshVerticesPerCell; ++i) mesh.vertices[i] = v[i];
        mesh.edgeCount = 15;
        for (int i = 0; i < 15; ++i) mesh.edges[i] = kFrontRecessEdges[i];
        for (int i = 0; i < kMeshFacesPerCell; ++i) mesh.faces[i] = kFrontRecessFaces[i];
        // Depth of the recess in the top panel, and width of its side wall.
        const double recessDepth = hypotenuse(d / 2 - rd, hf / 2 - rh);
        const double recessWall = hypotenuse(d / 2 - rd, rf - rw);
        const double areas[kMeshFacesPerCell] = {
            (hr + hf) / 2 * d,
            (w / 2 - rf) * hf,
            (hf + 2 * rh) / 2 * recessWall,
            2 * rh * 2 * rw,
            w * hr,
            w * panelSlant - (rf + rw) * recessDepth,
            w * panelSlant - (rf + rw) * recessDepth,
        };
        for (int i = 0; i < kMeshFacesPerCell; ++i) mesh.faceAreasM2[i] = float(areas[i]);
    } else {
        const models::NotchDimensions& n = model.notch;
        const double nw = n.widthM, nh = n.floorHeightM, nd = n.depthM;
        const float halfNw = float(nw / 2), notchFloor = float(-(d / 2 - nd)), halfNh = float(nh / 2);
        const CabinetPoint v[kMeshVerticesPerCell] = {
            {halfW, halfD, halfHf},  {halfW, -halfD, halfHr},  {halfNw, -halfD, halfHr},  {halfNw, notchFloor, halfNh},
            {halfW, halfD, -halfHf}, {halfW, -halfD, -halfHr}, {halfNw, -halfD, -halfHr}, {halfNw, notchFloor, -halfNh},
        };
        for (int i = 0; i < kMeshVerticesPerCell; ++i) mesh.vertices[i] = v[i];
        mesh.edgeCount = 14;
        for (int i = 0; i < 14; ++i) mesh.edges[i] = kRearNotchEdges[i];
        for (int i = 0; i < kMeshFacesPerCell; ++i) mesh.faces[i] = kRearNotchFaces[i];
        // Depth of the notch measured in the top panel.
        const double notchSlant = hypotenuse((nh - hr) / 2, nd);
        const double areas[kMeshFacesPerCell] = {
            (hr + hf) / 2 * d,
            w * hf,
            (w / 2 - nw / 2) * hr,
            (nh + hr) / 2 * nd,
            nw * nh,
            w * panelSlant - nw * notchSlant,
            w * panelSlant - nw * notchSlant,
        };
        for (int i = 0; i < kMeshFacesPerCell; ++i) mesh.faceAreasM2[i] = float(areas[i]);
    }
    return mesh;
}

void writeMeshVertices(const CabinetShapeMesh& shape, const models::ModelDefinition& model,
                       const float* splaysDeg, int cellCount, plugin_api::VertexRecord* out) {
    const double halfDepth = model.cabinet.depthM / 2.0;
    const double halfFrontHeight = model.cabinet.frontHeightM / 2.0;
    // Cell k's forward axis (0, -cos S, -sin S) and up axis (0, -sin S, cos S),
    // S the sum of the splays of cells 1..k; the side axis is +x throughout.
    double middleY = 0.0, middleZ = 0.0;
    double splaySumDeg = 0.0;
    for (int cell = 0; cell < cellCount; ++cell) {
        splaySumDeg += splaysDeg[cell];
        const double s = std::sin(splaySumDeg * kDegreesToRadians);
        const double c = std::cos(splaySumDeg * kDegreesToRadians);
        if (cell > 0) {
            // The pivot, the middle of the front bottom edge of the cell above,
            // is also the middle of this cell's front top edge.
            const double prevS = std::sin((splaySumDeg - splaysDeg[cell]) * kDegreesToRadians);
            const double prevC = std::cos((splaySumDeg - splaysDeg[cell]) * kDegreesToRadians);
            const double pivotY = middleY - halfDepth * prevC + halfFrontHeight * prevS;
            const double pivotZ = middleZ - halfDepth * prevS - halfFrontHeight * prevC;
            middleY = pivotY + halfFrontHeight * s + halfDepth * c;
            middleZ = pivotZ - halfFrontHeight * c + halfDepth * s;
        }
        for (int j = 0; j < kMeshVerticesPerCell; ++j) {
            const CabinetPoint& p = shape.vertices[j];
            plugin_api::VertexRecord& r = out[kMeshVerticesPerCell * cell + j];
            r.flag = 1;
            r.x = p.side;
            r.y = float(middleY - p.forward * c - p.up * s);
            r.z = float(middleZ - p.forward * s + p.up * c);
        }
    }
}

void writeMeshEdges(const CabinetShapeMesh& shape, int cellCount, plugin_api::EdgeRecord* out) {
    for (int cell = 0; cell < cellCount; ++cell) {
        for (int e = 0; e < shape.edgeCount; ++e) {
            const MeshEdge& edge = shape.edges[e];
            const int8_t ends[2] = {edge.from, edge.to};
            plugin_api::EdgeRecord& r = out[shape.edgeCount * cell + e];
            r.flag = mirrorFlag(ends, 2);
            r.from = arrayIndex(cell, edge.from);
            r.to = arrayIndex(cell, edge.to);
        }
    }
}

void writeMeshFaces(const CabinetShapeMesh& shape, int cellCount, FaceIndexStorage& storage,
                    plugin_api::FaceRecord* out) {
    for (int cell = 0; cell < cellCount; ++cell) {
        int32_t* list = storage.entries[cell];
        for (int f = 0; f < kMeshFacesPerCell; ++f) {
            const MeshFace& face = shape.faces[f];
            for (int i = 0; i < face.vertexCount; ++i) list[i] = arrayIndex(cell, face.vertices[i]);
            list[face.vertexCount] = list[0];
            plugin_api::FaceRecord& r = out[kMeshFacesPerCell * cell + f];
            r.flag = mirrorFlag(face.vertices, face.vertexCount);
            r.areaM2 = shape.faceAreasM2[f];
            r.word1 = kFaceWord;
            r.word2 = kFaceWord;
            r.zero = 0;
            r.vertexCount = face.vertexCount;
            r.indexList = list;
            list += face.vertexCount + 1;
        }
    }
}

}  // namespace geometry
