// One plug-in driven through its exports in the order the host program uses:
// descriptors, room values, flag 1, a new instance, the setup blob, the array
// pose and the filter; then per seat the seat and per cell its pose and
// response; and the cabinet mesh for drawing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geometry/mesh_records.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/setup_blob.h"
#include "tools/arrayhost/summation.h"
#include "tools/host/plugin_library.h"

namespace arrayhost {

struct ParameterDescriptor {
    int index = 0, id = 0, type = 0;
    std::string label;
    bool hasLimits = false;  // room parameters report a default, minimum and maximum
    float defaultValue = 0, minimum = 0, maximum = 0;
};

struct Descriptors {
    std::string name, manufacturer, dataResolution;  // UTF-8
    int version = 0, pluginClass = 0;
    int validBands = 0;
    std::vector<ParameterDescriptor> inputs, rooms;
};

struct CellPose {
    Vec3 positionM;
    Vec3 anglesDeg;
};

struct Mesh {
    std::vector<plugin_api::VertexRecord> vertices;
    std::vector<plugin_api::EdgeRecord> edges;
    int faceCount = 0;
};

class Session {
public:
    // `plugin` is a deliverable name (the library beside this program) or a
    // path. Refuses a library that lacks an export the host calls. `wrap`, if
    // given, may replace resolved exports with its own (tests hand the host
    // a plug-in's faults that way).
    using ExportWrapper = std::function<void(host::ExportTable&)>;
    static std::unique_ptr<Session> open(const std::string& plugin, std::string& error,
                                         const ExportWrapper& wrap = {});
    ~Session();

    const std::string& libraryPath() const { return library_->path(); }
    Descriptors describe() const;

    // Room values, flag 1, a fresh instance, setup blob, pose, filter.
    // Complaints name the scenario line they concern.
    bool setUp(const Scenario& scenario, std::string& error);

    // Hands the current instance a new setup of the same cell count, in the
    // blob format learnt at setUp; false when the plug-in refuses it.
    bool applyCells(const std::vector<double>& splaysDeg, const std::vector<int>& kinds) const;
    const BlobFormat& blobFormat() const { return format_; }
    // CI_SetLspkAngles3fv for the current instance.
    void aimArray(const Vec3& anglesDeg) const;

    int cellCount() const { return cellCount_; }
    // The poses as CI_GetCompPosition3fv and CI_GetCompAngles3fv report
    // them; `refused`, if given, counts the calls that answered other than 0
    // or a position that is not a number.
    std::vector<CellPose> cellPoses(int* refused = nullptr) const;

    // Sets the seat and returns CI_GetDistance, the distance from the array.
    float setSeat(const Vec3& seatM) const;
    // For each cell at the current seat: its pose (as the host reads it before
    // the response) and its response, with the seat's CI_GetDistance. `poses`
    // and `responses` hold cellCount(). Returns how many of the calls
    // answered other than 0.
    int respond(CellPose* poses, CellResponse* responses) const;
    // The same for a caller that read the poses since the array last moved:
    // CI_GetCompFR per cell, and each cell's path to `seatM` (the seat set
    // last) from its position in `poses`, as CI_GetCompDistance would give
    // it, without the two pose calls and the distance call per cell.
    int respond(const CellPose* poses, const Vec3& seatM, CellResponse* responses) const;
    // The distance law and air absorption the plug-in applied to the levels
    // of the array whose cells stand at `poses` (cellCount() of them), with
    // the room values set up.
    InterfaceLaw interfaceLaw(const CellPose* poses) const;

    Mesh mesh() const;

private:
    explicit Session(std::unique_ptr<host::PluginLibrary> library) : library_(std::move(library)) {}

    std::unique_ptr<host::PluginLibrary> library_;
    int instance_ = -1;
    int cellCount_ = 0;
    BlobFormat format_;
    double humidityPercent_ = 0;
    bool airAbsorption_ = false;
};

}  // namespace arrayhost
