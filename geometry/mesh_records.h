// Records of the cabinet mesh as the host lays them out in its arrays:
// little-endian and packed. The last 4 bytes of a vertex or edge record belong
// to the host; the plug-in never writes them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plugin_api {

#pragma pack(push, 1)

struct VertexRecord {
    int32_t flag;  // always 1
    float x, y, z;  // metres, in the array's own frame
    uint8_t hostReserved[4];
};

struct EdgeRecord {
    int32_t flag;  // 1: stands for itself and its mirror image; 0: crosses the mirror plane
    int32_t from, to;  // 1-based vertex indices, negative for the mirror image
    uint8_t hostReserved[4];
};

struct FaceRecord {
    int32_t flag;  // as for edges
    float areaM2;  // one mirror copy for flag 1, the whole face for flag 0
    uint32_t word1;  // 0x101010
    uint32_t word2;  // 0x101010
    int32_t zero;
    int32_t vertexCount;  // 4 or 8
    const int32_t* indexList;  // vertexCount + 1 indices, the first repeated; owned by the plug-in
};

#pragma pack(pop)

// The host reads these records at fixed offsets.
static_assert(sizeof(VertexRecord) == 20 && offsetof(VertexRecord, x) == 4 && offsetof(VertexRecord, z) == 12 &&
              offsetof(VertexRecord, hostReserved) == 16);
static_assert(sizeof(EdgeRecord) == 16 && offsetof(EdgeRecord, from) == 4 && offsetof(EdgeRecord, to) == 8 &&
              offsetof(EdgeRecord, hostReserved) == 12);
static_assert(offsetof(FaceRecord, areaM2) == 4 && offsetof(FaceRecord, word1) == 8 && offsetof(FaceRecord, word2) == 12 &&
              offsetof(FaceRecord, zero) == 16 && offsetof(FaceRecord, vertexCount) == 20 &&
              offsetof(FaceRecord, indexList) == 24);
// The face record ends in a pointer and so follows the platform's pointer
// size: 28 bytes in the 32-bit plug-ins the hosts load, whose layout is
// fixed, and 32 in the 64-bit build that exists only for testing.
static_assert(sizeof(FaceRecord) == 24 + sizeof(void*));
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(FaceRecord) == 28);
#endif

}  // namespace plugin_api
