#include <cmath>
#include <cstring>
#include <vector>

#include "tests/host/plugin_fixture.h"
#include "tests/host/setup_blob.h"

using namespace host_test;
using plugin_api::EdgeRecord;
using plugin_api::FaceRecord;
using plugin_api::VertexRecord;

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(VertexRecord) == 20 && sizeof(EdgeRecord) == 16 && sizeof(FaceRecord) == 28,
              "records as the 32-bit host lays them out");
#endif

namespace {

constexpr unsigned char kHostByte = 0xAB;

class MeshTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    }
    void setSplays(std::initializer_list<float> splays) {
        ASSERT_EQ(setCells(*plugin, product(), splays, 2), 0);
    }
    int32_t edgesPerCell() const { return product().cellsCarryKind ? 14 : 15; }

    // Record bytes for `count` records plus one spare, all set to the host's byte.
    template <typename Record>
    static std::vector<unsigned char> hostArray(int32_t count) {
        return std::vector<unsigned char>(sizeof(Record) * size_t(count + 1), kHostByte);
    }
    template <typename Record>
    static Record record(const std::vector<unsigned char>& bytes, int32_t i) {
        Record r;
        std::memcpy(&r, bytes.data() + sizeof(Record) * size_t(i), sizeof r);
        return r;
    }
    static bool untouched(const std::vector<unsigned char>& bytes, size_t from, size_t count) {
        for (size_t i = from; i < from + count; ++i) {
            if (bytes[i] != kHostByte) return false;
        }
        return true;
    }
};

}  // namespace

TEST_F(MeshTest, CountsFollowTheCellCount) {
    setSplays({0, 1, 2, 3, 4});
    int32_t symmetry = 0;
    float offset = 1.0f;
    EXPECT_EQ(plugin->CS_GetSymmetry(&symmetry, &offset), 0);
    EXPECT_EQ(symmetry, -1);
    EXPECT_EQ(offset, 0.0f);
    int32_t n = 0;
    EXPECT_EQ(plugin->CS_GetVertexNumber(&n), 0);
    EXPECT_EQ(n, 40);
    EXPECT_EQ(plugin->CS_GetEdgeNumber(&n), 0);
    EXPECT_EQ(n, 5 * edgesPerCell());
    EXPECT_EQ(plugin->CS_GetFaceNumber(&n), 0);
    EXPECT_EQ(n, 35);
}

TEST_F(MeshTest, RecordsLeaveTheHostsBytesAlone) {
    setSplays({0, 2, 4, 6});
    auto vertices = hostArray<VertexRecord>(32);
    EXPECT_EQ(plugin->CS_GetVertexArray(reinterpret_cast<VertexRecord*>(vertices.data())), 0);
    for (int32_t i = 0; i < 32; ++i) {
        EXPECT_EQ(record<VertexRecord>(vertices, i).flag, 1);
        EXPECT_TRUE(untouched(vertices, sizeof(VertexRecord) * size_t(i) + 16, 4)) << i;
    }
    EXPECT_TRUE(untouched(vertices, sizeof(VertexRecord) * 32, sizeof(VertexRecord)));

    const int32_t edgeCount = 4 * edgesPerCell();
    auto edges = hostArray<EdgeRecord>(edgeCount);
    EXPECT_EQ(plugin->CS_GetEdgeArray(reinterpret_cast<EdgeRecord*>(edges.data())), 0);
    for (int32_t i = 0; i < edgeCount; ++i) {
        const EdgeRecord e = record<EdgeRecord>(edges, i);
        EXPECT_EQ(e.flag, e.from > 0 && e.to > 0 ? 1 : 0);
        EXPECT_TRUE(std::abs(e.from) >= 1 && std::abs(e.from) <= 32 && std::abs(e.to) >= 1 && std::abs(e.to) <= 32);
        EXPECT_TRUE(untouched(edges, sizeof(EdgeRecord) * size_t(i) + 12, 4)) << i;
    }
    EXPECT_TRUE(untouched(edges, sizeof(EdgeRecord) * size_t(edgeCount), sizeof(EdgeRecord)));

    auto faces = hostArray<FaceRecord>(28);
    EXPECT_EQ(plugin->CS_GetFaceArray(reinterpret_cast<FaceRecord*>(faces.data())), 0);
    for (int32_t i = 0; i < 28; ++i) {
        const FaceRecord f = record<FaceRecord>(faces, i);
        EXPECT_EQ(f.word1, 0x101010u);
        EXPECT_EQ(f.word2, 0x101010u);
        EXPECT_EQ(f.zero, 0);
        ASSERT_TRUE(f.vertexCount == 4 || f.vertexCount == 8);
        ASSERT_NE(f.indexList, nullptr);
        EXPECT_EQ(f.indexList[f.vertexCount], f.indexList[0]);
        bool allPositive = true;
        for (int32_t k = 0; k < f.vertexCount; ++k) {
            allPositive = allPositive && f.indexList[k] > 0;
            // Every face of cell c uses only cell c's vertices.
            EXPECT_EQ((std::abs(f.indexList[k]) - 1) / 8, i / 7);
        }
        EXPECT_EQ(f.flag, allPositive ? 1 : 0);
        EXPECT_GT(f.areaM2, 0.0f);
    }
    EXPECT_TRUE(untouched(faces, sizeof(FaceRecord) * 28, sizeof(FaceRecord)));
}

TEST_F(MeshTest, MeshFollowsTheCellsNotTheArrayPose) {
    setSplays({0, 5, 5, 5});
    std::vector<VertexRecord> before(32), after(32);
    plugin->CS_GetVertexArray(before.data());
    const float position[3] = {10, 20, 30}, angles[3] = {45, 10, 0};
    plugin->CI_SetLspkPosition3fv(position);
    plugin->CI_SetLspkAngles3fv(angles);
    plugin->CS_GetVertexArray(after.data());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].x, after[i].x);
        EXPECT_EQ(before[i].y, after[i].y);
        EXPECT_EQ(before[i].z, after[i].z);
    }
    // Cell 1's middle is the origin: its front and rear vertices straddle it.
    EXPECT_NEAR(before[0].y + before[6].y, 0.0f, 0.05f);
}

TEST_F(MeshTest, FrontEdgesOfNeighboursMeet) {
    setSplays({1, 3, 6, 9, 2});
    std::vector<VertexRecord> v(40);
    plugin->CS_GetVertexArray(v.data());
    const int frontBottom = product().cellsCarryKind ? 4 : 3;  // 0-based vertex 5 or 4
    for (int cell = 0; cell < 4; ++cell) {
        const VertexRecord& lower = v[size_t(8 * cell + frontBottom)];
        const VertexRecord& upper = v[size_t(8 * (cell + 1))];
        EXPECT_NEAR(lower.y, upper.y, 2e-5f);
        EXPECT_NEAR(lower.z, upper.z, 2e-5f);
        EXPECT_EQ(lower.x, upper.x);
    }
}

TEST_F(MeshTest, IndexListsStayUntilTheNextFacesCall) {
    setSplays({0, 1, 2, 3});
    std::vector<FaceRecord> faces(28);
    plugin->CS_GetFaceArray(faces.data());
    const int32_t* list = faces[7 + 3].indexList;
    const int32_t first = list[0];
    // Other calls, even for another instance, leave the lists alone.
    ASSERT_EQ(plugin->CI_GetFreeID(), 2);
    std::vector<VertexRecord> vertices(32);
    plugin->CS_GetVertexArray(vertices.data());
    EXPECT_EQ(list[0], first);
    if (!product().cellsCarryKind) {
        const int32_t expected[] = {11, 14, -14, -11, 11};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(list[i], expected[i]);
    }
}

TEST_F(MeshTest, EmptyArrayWritesNothing) {
    if (product().cellsCarryKind) GTEST_SKIP() << "takes at least 4 cells";
    setSplays({});
    int32_t n = 99;
    plugin->CS_GetVertexNumber(&n);
    EXPECT_EQ(n, 0);
    plugin->CS_GetFaceNumber(&n);
    EXPECT_EQ(n, 0);
    auto bytes = hostArray<FaceRecord>(0);
    plugin->CS_GetVertexArray(reinterpret_cast<VertexRecord*>(bytes.data()));
    plugin->CS_GetEdgeArray(reinterpret_cast<EdgeRecord*>(bytes.data()));
    plugin->CS_GetFaceArray(reinterpret_cast<FaceRecord*>(bytes.data()));
    EXPECT_TRUE(untouched(bytes, 0, bytes.size()));
}

TEST_F(MeshTest, MeshNeedsAnInstance) {
    plugin->CI_MakeCurrent(300);
    int32_t n = 5;
    float offset = 5;
    EXPECT_EQ(plugin->CS_GetSymmetry(&n, &offset), -1);
    EXPECT_EQ(plugin->CS_GetVertexNumber(&n), -1);
    EXPECT_EQ(plugin->CS_GetEdgeNumber(&n), -1);
    EXPECT_EQ(plugin->CS_GetFaceNumber(&n), -1);
    EXPECT_EQ(plugin->CS_GetVertexArray(nullptr), -1);
    EXPECT_EQ(plugin->CS_GetEdgeArray(nullptr), -1);
    EXPECT_EQ(plugin->CS_GetFaceArray(nullptr), -1);
    EXPECT_EQ(n, 5);
}
