// Cabinet mesh exports: the array's cabinets as a mirror-symmetric polygon
// mesh for the host to draw.
#include "geometry/cabinet_mesh.h"
#include "plugin/bound_state.h"

using plugin::ExportScope;
using plugin::gState;
using plugin::Instance;
using plugin::onCurrentInstance;

namespace {

// The cabinet's vertex table, edges, faces and face areas, made at the first
// mesh call and kept. Not at load: the loader runs initialisers outside every
// export, in whatever floating-point state the host has, and the shape would
// raise flags there and round as the host rounds. Hosts call from one thread.
const geometry::CabinetShapeMesh& cabinetShape() {
    static geometry::CabinetShapeMesh shape;
    static bool made = false;
    if (!made) {
        shape = geometry::makeCabinetShapeMesh(models::kBoundModel);
        made = true;
    }
    return shape;
}

// Face index lists handed to the host; shared by all instances.
geometry::FaceIndexStorage gFaceIndexLists;

constexpr int32_t kMirroredAboutX = -1;
constexpr float kMirrorOffsetM = 0.0f;

void splaysOf(const Instance& instance, float (&splaysDeg)[models::kCellCapacity]) {
    for (int k = 0; k < models::kCellCapacity; ++k) splaysDeg[k] = instance.cells[k].splayDeg;
}

}  // namespace

PLUGIN_API int32_t PLUGIN_CALL CS_GetSymmetry(int32_t* symmetry, float* offset) noexcept {
    ExportScope scope;
    if (plugin::anyNull(symmetry, offset)) return -1;
    return onCurrentInstance([&](Instance&) {
        *symmetry = kMirroredAboutX;
        *offset = kMirrorOffsetM;
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetVertexNumber(int32_t* count) noexcept {
    ExportScope scope;
    if (plugin::anyNull(count)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        *count = geometry::kMeshVerticesPerCell * instance.cellCount;
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetVertexArray(plugin_api::VertexRecord* vertices) noexcept {
    ExportScope scope;
    if (plugin::anyNull(vertices)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        float splaysDeg[models::kCellCapacity];
        splaysOf(instance, splaysDeg);
        geometry::writeMeshVertices(cabinetShape(), gState.model, splaysDeg, instance.cellCount, vertices);
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetEdgeNumber(int32_t* count) noexcept {
    ExportScope scope;
    if (plugin::anyNull(count)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        *count = cabinetShape().edgeCount * instance.cellCount;
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetEdgeArray(plugin_api::EdgeRecord* edges) noexcept {
    ExportScope scope;
    if (plugin::anyNull(edges)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        geometry::writeMeshEdges(cabinetShape(), instance.cellCount, edges);
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetFaceNumber(int32_t* count) noexcept {
    ExportScope scope;
    if (plugin::anyNull(count)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        *count = geometry::kMeshFacesPerCell * instance.cellCount;
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CS_GetFaceArray(plugin_api::FaceRecord* faces) noexcept {
    ExportScope scope;
    if (plugin::anyNull(faces)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        geometry::writeMeshFaces(cabinetShape(), instance.cellCount, gFaceIndexLists, faces);
        return 0;
    });
}
