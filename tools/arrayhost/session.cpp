#include "tools/arrayhost/session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/arrayhost/setup_blob.h"
#include "tools/host/product.h"
#include "tools/host/setup_blob.h"

namespace arrayhost {

namespace {

std::string formatValue(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string labelOf(int32_t(PLUGIN_CALL* getLabel)(int32_t, char*), int index) {
    char label[256] = {};
    getLabel(index, label);
    label[sizeof label - 1] = '\0';
    return host::textFromPlugin(label);
}

}  // namespace

std::unique_ptr<Session> Session::open(const std::string& plugin, std::string& error, const ExportWrapper& wrap) {
    const std::string path = host::findProduct(plugin) != nullptr ? host::pluginPath(plugin) : plugin;
    auto library = host::PluginLibrary::open(path, error);
    if (!library) return nullptr;
    std::string missing;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    if (library->name == nullptr) missing += std::string(missing.empty() ? "" : ", ") + #name;
#include "plugin/exports.inc"
    if (!missing.empty()) {
        error = path + " lacks exports the host calls: " + missing;
        return nullptr;
    }
    if (wrap) wrap(*library);
    return std::unique_ptr<Session>(new Session(std::move(library)));
}

Session::~Session() {
    if (instance_ >= 0) {
        library_->CI_MakeCurrent(instance_);
        library_->CI_Release();
    }
}

Descriptors Session::describe() const {
    const host::PluginLibrary& p = *library_;
    Descriptors d;
    const char* text = "";
    p.DLLGetName(&text);
    d.name = host::textFromPlugin(text);
    text = "";
    p.DLLGetManufacturer(&text);
    d.manufacturer = host::textFromPlugin(text);
    text = "";
    p.DLLGetDataResolution(&text);
    d.dataResolution = host::textFromPlugin(text);
    d.version = p.DLLVersion();
    d.pluginClass = p.DLLClass();
    int32_t bands[kBandCount] = {};
    p.DLLGetValidBands(bands);
    for (int32_t flag : bands) d.validBands += flag != 0;
    for (int index = 1; index <= p.IP_GetNumber(); ++index) {
        ParameterDescriptor param;
        param.index = index;
        param.id = p.IP_GetID(index);
        param.type = p.IP_GetType(index);
        param.label = labelOf(p.IP_GetLabel, index);
        d.inputs.push_back(param);
    }
    for (int index = 1; index <= p.RP_GetNumber(); ++index) {
        ParameterDescriptor param;
        param.index = index;
        param.id = p.RP_GetID(index);
        param.type = p.RP_GetType(index);
        param.label = labelOf(p.RP_GetLabel, index);
        param.hasLimits = true;
        p.RP_GetDefault(index, &param.defaultValue);
        p.RP_GetMinimum(index, &param.minimum);
        p.RP_GetMaximum(index, &param.maximum);
        d.rooms.push_back(param);
    }
    return d;
}

bool Session::setUp(const Scenario& s, std::string& error) {
    const host::PluginLibrary& p = *library_;

    // Room values, checked against the limits the plug-in reports.
    const struct {
        int index;
        const char* key;
        double value;
    } rooms[] = {{1, "speed_of_sound", s.speedOfSoundMPerS}, {2, "humidity", s.humidityPercent}};
    for (const auto& room : rooms) {
        float lo = 0, hi = 0;
        p.RP_GetMinimum(room.index, &lo);
        p.RP_GetMaximum(room.index, &hi);
        if (room.value < lo || room.value > hi) {
            error = s.where(room.key) + room.key + ": " + formatValue(room.value) + " is outside the plug-in's range " +
                    formatValue(lo) + " to " + formatValue(hi);
            return false;
        }
        p.RP_SetValue(room.index, float(room.value));
    }
    const int32_t leaveAbsorptionOut = s.airAbsorption ? 0 : 1;
    p.DLLSetFlag(1, &leaveAbsorptionOut);
    humidityPercent_ = s.humidityPercent;
    airAbsorption_ = s.airAbsorption;

    instance_ = p.CI_GetFreeID();
    if (instance_ < 0) {
        error = "the plug-in has no free instance";
        return false;
    }

    // Learn the blob format from the fresh instance, then hand over ours.
    const int freshCells = p.CI_GetComponents();
    std::vector<uint8_t> fresh = host::readBlob(p);
    // As long as the plug-in says, also when that is shorter than a header.
    fresh.resize(std::min<size_t>(fresh.size(), host::readWord(fresh.data())));
    const auto format = blobFormatOf(fresh, freshCells, error);
    if (!format) return false;
    if (!s.kinds.empty() && !format->cellsCarryKind) {
        error = s.where("kinds") + "kinds: the cells of this plug-in carry no cabinet kind";
        return false;
    }
    format_ = *format;
    const std::vector<uint8_t> blob = makeSetupBlob(*format, s.splaysDeg, s.kinds);
    if (p.IP_SetValue(1, blob.data()) != 0) {
        error = s.where("cells") + "cells: the plug-in refused the setup of " + std::to_string(s.cellCount()) +
                " cells";
        return false;
    }

    const float position[3] = {float(s.arrayPositionM.x), float(s.arrayPositionM.y), float(s.arrayPositionM.z)};
    const float angles[3] = {float(s.arrayAnglesDeg.x), float(s.arrayAnglesDeg.y), float(s.arrayAnglesDeg.z)};
    p.CI_SetLspkPosition3fv(position);
    p.CI_SetLspkAngles3fv(angles);
    if (s.filter) {
        float gains[kBandCount], phases[kBandCount];
        for (int band = 0; band < kBandCount; ++band) {
            gains[band] = float(s.filter->gainsDb[band]);
            phases[band] = float(s.filter->phasesDeg[band]);
        }
        p.IP_SetFilter(gains, phases);
    }

    cellCount_ = p.CI_GetComponents();
    if (cellCount_ != s.cellCount()) {
        error = "the plug-in reports " + std::to_string(cellCount_) + " cells after a setup of " +
                std::to_string(s.cellCount());
        return false;
    }
    return true;
}

bool Session::applyCells(const std::vector<double>& splaysDeg, const std::vector<int>& kinds) const {
    const std::vector<uint8_t> blob = makeSetupBlob(format_, splaysDeg, kinds);
    return library_->IP_SetValue(1, blob.data()) == 0 && library_->CI_GetComponents() == int(splaysDeg.size());
}

void Session::aimArray(const Vec3& anglesDeg) const {
    const float angles[3] = {float(anglesDeg.x), float(anglesDeg.y), float(anglesDeg.z)};
    library_->CI_SetLspkAngles3fv(angles);
}

std::vector<CellPose> Session::cellPoses(int* refused) const {
    std::vector<CellPose> poses(static_cast<size_t>(cellCount_));
    int refusals = 0;
    for (int cell = 1; cell <= cellCount_; ++cell) {
        float position[3] = {}, angles[3] = {};
        refusals += library_->CI_GetCompPosition3fv(cell, position) != 0;
        refusals += library_->CI_GetCompAngles3fv(cell, angles) != 0;
        refusals += !(std::isfinite(position[0]) && std::isfinite(position[1]) && std::isfinite(position[2]));
        poses[size_t(cell - 1)] = {{position[0], position[1], position[2]}, {angles[0], angles[1], angles[2]}};
    }
    if (refused != nullptr) *refused = refusals;
    return poses;
}

float Session::setSeat(const Vec3& seatM) const {
    const float seat[3] = {float(seatM.x), float(seatM.y), float(seatM.z)};
    library_->CI_SetSeatPosition3fv(seat);
    return library_->CI_GetDistance();
}

int Session::respond(const CellPose* poses, const Vec3& seatM, CellResponse* responses) const {
    const host::PluginLibrary& p = *library_;
    int refused = 0;
    const float arrayDistanceM = p.CI_GetDistance();
    refused += arrayDistanceM < 0;
    // The seat as the plug-in holds it, in single precision.
    const double x = float(seatM.x), y = float(seatM.y), z = float(seatM.z);
    for (int cell = 1; cell <= cellCount_; ++cell) {
        CellResponse& r = responses[cell - 1];
        refused += p.CI_GetCompFR(cell, r.levelsDb.data(), r.phasesDeg.data(), &r.reportedTimeS) != 0;
        const Vec3& at = poses[cell - 1].positionM;
        r.pathM = float(std::sqrt((x - at.x) * (x - at.x) + (y - at.y) * (y - at.y) + (z - at.z) * (z - at.z)));
        r.arrayDistanceM = arrayDistanceM;
    }
    return refused;
}

int Session::respond(CellPose* poses, CellResponse* responses) const {
    const host::PluginLibrary& p = *library_;
    int refused = 0;
    const float arrayDistanceM = p.CI_GetDistance();
    refused += arrayDistanceM < 0;
    for (int cell = 1; cell <= cellCount_; ++cell) {
        float position[3] = {}, angles[3] = {};
        refused += p.CI_GetCompPosition3fv(cell, position) != 0;
        refused += p.CI_GetCompAngles3fv(cell, angles) != 0;
        poses[cell - 1] = {{position[0], position[1], position[2]}, {angles[0], angles[1], angles[2]}};
        CellResponse& r = responses[cell - 1];
        refused += p.CI_GetCompFR(cell, r.levelsDb.data(), r.phasesDeg.data(), &r.reportedTimeS) != 0;
        r.pathM = p.CI_GetCompDistance(cell);
        r.arrayDistanceM = arrayDistanceM;
        refused += r.pathM < 0;  // -1.0 is the refusal of a distance
    }
    return refused;
}

InterfaceLaw Session::interfaceLaw(const CellPose* poses) const {
    double lengthM = 0;
    if (cellCount_ > 1) {
        const Vec3 &first = poses[0].positionM, &last = poses[cellCount_ - 1].positionM;
        lengthM = std::sqrt((last.x - first.x) * (last.x - first.x) + (last.y - first.y) * (last.y - first.y) +
                            (last.z - first.z) * (last.z - first.z));
    }
    return arrayhost::interfaceLaw(lengthM, humidityPercent_, airAbsorption_);
}

Mesh Session::mesh() const {
    const host::PluginLibrary& p = *library_;
    Mesh mesh;
    int32_t symmetry = 0, count = 0;
    float offset = 0;
    p.CS_GetSymmetry(&symmetry, &offset);
    p.CS_GetVertexNumber(&count);
    mesh.vertices.resize(size_t(count > 0 ? count : 0));
    if (count > 0) p.CS_GetVertexArray(mesh.vertices.data());
    count = 0;
    p.CS_GetEdgeNumber(&count);
    mesh.edges.resize(size_t(count > 0 ? count : 0));
    if (count > 0) p.CS_GetEdgeArray(mesh.edges.data());
    count = 0;
    p.CS_GetFaceNumber(&count);
    std::vector<plugin_api::FaceRecord> faces(size_t(count > 0 ? count : 0));
    if (count > 0) p.CS_GetFaceArray(faces.data());
    mesh.faceCount = count;
    return mesh;
}

}  // namespace arrayhost
