#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/cabinet_mesh.h"
#include "tests/every_model.h"

using namespace geometry;
using models::ModelDefinition;
using plugin_api::EdgeRecord;
using plugin_api::FaceRecord;
using plugin_api::VertexRecord;

namespace {

struct P3 {
    double x, y, z;
};

struct Mesh {
    std::vector<VertexRecord> vertices;
    std::vector<EdgeRecord> edges;
    std::vector<FaceRecord> faces;
    FaceIndexStorage storage;

    // Vertex by 1-based array index; negative names the mirror image.
    P3 at(int32_t index) const {
        const VertexRecord& v = vertices[size_t(std::abs(index) - 1)];
        return {index < 0 ? -double(v.x) : double(v.x), v.y, v.z};
    }
};

Mesh build(const ModelDefinition& model, std::vector<float> splays) {
    const CabinetShapeMesh shape = makeCabinetShapeMesh(model);
    const int n = int(splays.size());
    splays.resize(models::kCellCapacity, 0.0f);
    Mesh mesh;
    mesh.vertices.resize(size_t(8 * n));
    mesh.edges.resize(size_t(shape.edgeCount * n));
    mesh.faces.resize(size_t(7 * n));
    writeMeshVertices(shape, model, splays.data(), n, mesh.vertices.data());
    writeMeshEdges(shape, n, mesh.edges.data());
    writeMeshFaces(shape, n, mesh.storage, mesh.faces.data());
    return mesh;
}

double distance(const P3& a, const P3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Area of a polygon in space: half the length of the sum of the cross
// products of successive vertices (exact for planar polygons).
double polygonArea(const std::vector<P3>& p) {
    P3 sum{0, 0, 0};
    for (size_t i = 0; i < p.size(); ++i) {
        const P3& a = p[i];
        const P3& b = p[(i + 1) % p.size()];
        sum.x += a.y * b.z - a.z * b.y;
        sum.y += a.z * b.x - a.x * b.z;
        sum.z += a.x * b.y - a.y * b.x;
    }
    return 0.5 * std::sqrt(sum.x * sum.x + sum.y * sum.y + sum.z * sum.z);
}

void expectAt(const P3& actual, P3 expected, double tol = 1e-5) {
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

constexpr double kThreeDegreesRad = 3.0 * 3.14159265358979323846 / 180.0;

class MeshEveryModel : public ::testing::TestWithParam<const ModelDefinition*> {};
INSTANTIATE_FOR_EVERY_MODEL(MeshEveryModel);

}  // namespace

TEST(CabinetMesh, FaceAreasOfEachCabinet) {
    struct Expected {
        const ModelDefinition* model;
        double areas[7];
    };
    const Expected table[] = {
        {&models::kKtr2, {0.15001, 0.10668, 0.04381, 0.04705, 0.24203, 0.71203, 0.71203}},
        {&models::kKtr4, {0.21226, 0.18015, 0.06192, 0.0612, 0.35548, 1.01583, 1.01583}},
        {&models::kQspan, {0.10878, 0.17907, 0.00833, 0.00991, 0.10306, 0.32466, 0.32466}},
    };
    for (const Expected& e : table) {
        const CabinetShapeMesh shape = makeCabinetShapeMesh(*e.model);
        for (int f = 0; f < 7; ++f) EXPECT_NEAR(shape.faceAreasM2[f], e.areas[f], 6e-6) << e.model->displayName << f;
    }
}

TEST_P(MeshEveryModel, FaceAreasAreThoseOfTheVertexPolygons) {
    const Mesh mesh = build(*GetParam(), {2.0f});
    for (const FaceRecord& face : mesh.faces) {
        std::vector<P3> polygon;
        for (int i = 0; i < face.vertexCount; ++i) polygon.push_back(mesh.at(face.indexList[i]));
        EXPECT_EQ(face.indexList[face.vertexCount], face.indexList[0]);
        // The eight-vertex panels are not quite planar; their areas hold to
        // the fifth decimal all the same.
        EXPECT_NEAR(polygonArea(polygon), face.areaM2, 1e-5);
    }
}

TEST(CabinetMesh, VerticesOfTheFirstCell) {
    const Mesh ktr4 = build(models::kKtr4, {0.0f});
    expectAt(ktr4.at(1), {0.7366, -0.3556, 0.1778});
    expectAt(ktr4.at(7), {0.7366, 0.3556, 0.12065});
    expectAt(ktr4.at(8), {0.7366, 0.3556, -0.12065});
    expectAt(build(models::kQspan, {0.0f}).at(4), {0.29615, 0.19925, 0.087});
    expectAt(build(models::kKtr4, {3.0f}).at(1), {0.7366, -0.36442, 0.15895});
    for (const VertexRecord& v : ktr4.vertices) EXPECT_EQ(v.flag, 1);
}

TEST_P(MeshEveryModel, NeighboursHingeAtTheirFrontEdges) {
    const ModelDefinition& model = *GetParam();
    const bool recess = model.shape == models::CabinetShape::FrontRecess;
    const int frontBottom = recess ? 4 : 5;
    std::mt19937 rng(37);
    std::uniform_real_distribution<float> splay(-5, 10);
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<float> splays(16);
        for (float& s : splays) s = splay(rng);
        const Mesh mesh = build(model, splays);
        for (int cell = 0; cell + 1 < 16; ++cell) {
            expectAt(mesh.at(8 * cell + frontBottom), mesh.at(8 * (cell + 1) + 1), 2e-5);
        }
    }
}

TEST(CabinetMesh, SplayClosesTheRearGap) {
    auto rearGap = [](float splay) {
        const Mesh mesh = build(models::kKtr4, {0.0f, splay});
        return distance(mesh.at(8), mesh.at(15));
    };
    EXPECT_NEAR(rearGap(0.0f), 0.1143, 1e-5);
    EXPECT_NEAR(rearGap(5.0f), 0.0522, 1e-4);
    EXPECT_NEAR(rearGap(9.19f), 0.0, 1e-3);
}

TEST_P(MeshEveryModel, UnsplayedRearGapIsTheHeightDifference) {
    const ModelDefinition& model = *GetParam();
    const Mesh mesh = build(model, {0.0f, 0.0f});
    const bool recess = model.shape == models::CabinetShape::FrontRecess;
    const int rearBottom = recess ? 8 : 6, rearTop = recess ? 7 : 2;
    EXPECT_NEAR(distance(mesh.at(rearBottom), mesh.at(8 + rearTop)),
                double(model.cabinet.frontHeightM) - model.cabinet.rearHeightM, 1e-5);
}

TEST_P(MeshEveryModel, FirstSplayTurnsTheWholeMeshAboutTheMiddleOfCellOne) {
    const Mesh flat = build(*GetParam(), {0.0f, 4.0f, 2.0f});
    const Mesh turned = build(*GetParam(), {3.0f, 4.0f, 2.0f});
    const double c = std::cos(kThreeDegreesRad), s = std::sin(kThreeDegreesRad);
    for (int32_t i = 1; i <= 24; ++i) {
        const P3 p = flat.at(i);
        // A positive splay tilts the front (-y) downward: a turn about the side axis.
        expectAt(turned.at(i), {p.x, p.y * c - p.z * s, p.y * s + p.z * c}, 2e-5);
    }
}

TEST(CabinetMesh, IndicesRunOverTheWholeArray) {
    const Mesh ktr4 = build(models::kKtr4, {0, 1, 2});
    const EdgeRecord& first = ktr4.edges[30];
    EXPECT_EQ(first.from, 17);
    EXPECT_EQ(first.to, 18);
    EXPECT_EQ(first.flag, 1);
    const EdgeRecord& eighth = ktr4.edges[37];
    EXPECT_EQ(eighth.from, 19);
    EXPECT_EQ(eighth.to, -19);
    EXPECT_EQ(eighth.flag, 0);
    // Edge 13 runs back over edge 5, and both are sent.
    EXPECT_EQ(ktr4.edges[4].from, 1);
    EXPECT_EQ(ktr4.edges[4].to, 4);
    EXPECT_EQ(ktr4.edges[12].from, 4);
    EXPECT_EQ(ktr4.edges[12].to, 1);

    const FaceRecord& recessFloor = ktr4.faces[7 + 3];
    EXPECT_EQ(recessFloor.flag, 0);
    EXPECT_EQ(recessFloor.vertexCount, 4);
    const int32_t expected[] = {11, 14, -14, -11, 11};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(recessFloor.indexList[i], expected[i]);

    const int32_t faceFlags[] = {1, 1, 1, 0, 0, 0, 0};
    const int32_t notchFaceFlags[] = {1, 0, 1, 1, 0, 0, 0};
    const Mesh qspan = build(models::kQspan, {0, 0});
    for (int f = 0; f < 7; ++f) {
        EXPECT_EQ(ktr4.faces[f].flag, faceFlags[f]);
        EXPECT_EQ(qspan.faces[7 + f].flag, notchFaceFlags[f]);
        EXPECT_EQ(ktr4.faces[f].vertexCount, f < 5 ? 4 : 8);
        EXPECT_EQ(ktr4.faces[f].word1, 0x101010u);
        EXPECT_EQ(ktr4.faces[f].word2, 0x101010u);
        EXPECT_EQ(ktr4.faces[f].zero, 0);
    }
    EXPECT_EQ(qspan.edges.size(), 28u);
    EXPECT_EQ(qspan.edges[14 + 10].from, 9);
    EXPECT_EQ(qspan.edges[14 + 10].to, -9);
}

TEST(CabinetMesh, IndexListsOfSixteenCellsFitTheStorage) {
    std::vector<float> splays(16, 1.0f);
    const Mesh mesh = build(models::kKtr4, splays);
    const int32_t* begin = &mesh.storage.entries[0][0];
    const int32_t* end = begin + sizeof mesh.storage.entries / sizeof(int32_t);
    const FaceRecord& last = mesh.faces.back();
    EXPECT_GE(last.indexList, begin);
    EXPECT_LE(last.indexList + last.vertexCount + 1, end);
    EXPECT_EQ(last.indexList[0], 8 * 15 + 4);
    EXPECT_EQ(end[-1], last.indexList[0]);  // the last list ends the storage
}
