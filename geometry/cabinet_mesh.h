// The cabinets of an array as one half of a solid that is mirror-symmetric
// about the plane x = 0: eight vertices, a fixed set of edges and seven faces
// per cell. Edges and faces name the other half through negative vertex
// indices. The mesh is given in the array's own frame: the middle of cell 1 is
// the origin, z is up and the cabinets face -y before they are splayed.
#pragma once

#include <cstdint>

#include "models/model_definition.h"
#include "geometry/mesh_records.h"

namespace geometry {

inline constexpr int kMeshVerticesPerCell = 8;
inline constexpr int kMeshFacesPerCell = 7;
inline constexpr int kMeshQuadFacesPerCell = 5;
inline constexpr int kMeshOctagonFacesPerCell = 2;
inline constexpr int kMeshIndexEntriesPerCell =
    kMeshQuadFacesPerCell * (4 + 1) + kMeshOctagonFacesPerCell * (8 + 1);

// One cell's vertex position in the cabinet's own axes.
struct CabinetPoint {
    float side, forward, up;
};

// An edge or face as cell-local vertex numbers, negative for the mirror image.
struct MeshEdge {
    int8_t from, to;
};
struct MeshFace {
    int8_t vertexCount;
    int8_t vertices[8];
};

// Everything about one cabinet shape that does not depend on the splays:
// vertex table, edges, faces and face areas. Made once per library.
struct CabinetShapeMesh {
    CabinetPoint vertices[kMeshVerticesPerCell];
    int edgeCount;
    MeshEdge edges[15];
    MeshFace faces[kMeshFacesPerCell];
    float faceAreasM2[kMeshFacesPerCell];
};

CabinetShapeMesh makeCabinetShapeMesh(const models::ModelDefinition& model);

// The face index lists of a whole array, owned by the plug-in and handed to
// the host through the face records; they stay valid until the next faces call.
struct FaceIndexStorage {
    int32_t entries[models::kCellCapacity][kMeshIndexEntriesPerCell] = {};
};

// Mesh of `cellCount` cells with the given splays (degrees, cell 1 first).
// Each writer fills exactly cellCount times its per-cell count of records.
void writeMeshVertices(const CabinetShapeMesh& shape, const models::ModelDefinition& model,
                       const float* splaysDeg, int cellCount, plugin_api::VertexRecord* out);
void writeMeshEdges(const CabinetShapeMesh& shape, int cellCount, plugin_api::EdgeRecord* out);
void writeMeshFaces(const CabinetShapeMesh& shape, int cellCount, FaceIndexStorage& storage,
                    plugin_api::FaceRecord* out);

}  // namespace geometry
