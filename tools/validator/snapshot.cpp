#include "tools/validator/snapshot.h"

#include <cmath>
#include <cstring>

#include "tools/validator/random.h"

namespace validator {

void Snapshot::add(float f) { words.push_back(floatBits(f)); }

void Snapshot::add(const unsigned char* bytes, size_t count) {
    add(uint32_t(count));
    for (size_t i = 0; i < count; i += 4) {
        uint32_t w = 0;
        std::memcpy(&w, bytes + i, count - i < 4 ? count - i : 4);
        words.push_back(w);
    }
}

std::optional<std::string> firstDifference(const Snapshot& before, const Snapshot& after) {
    const size_t common = before.words.size() < after.words.size() ? before.words.size() : after.words.size();
    size_t at = common;
    for (size_t i = 0; i < common; ++i) {
        if (before.words[i] != after.words[i]) {
            at = i;
            break;
        }
    }
    if (at == common && before.words.size() == after.words.size()) return std::nullopt;
    std::string where = "the start";
    size_t first = 0;
    for (const auto& [start, what] : before.sections) {
        if (start > at) break;
        where = what;
        first = start;
    }
    char text[160];
    if (at < common) {
        std::snprintf(text, sizeof text, ", word %zu: 0x%08x before, 0x%08x after", at - first,
                      unsigned(before.words[at]), unsigned(after.words[at]));
    } else {
        std::snprintf(text, sizeof text, ": %zu words before, %zu after", before.words.size(), after.words.size());
    }
    return where + text;
}

bool levelsFinite(Report& report, const float* levelsDb, const char* what) {
    for (int band = 0; band < kBandCount; ++band) {
        if (!std::isfinite(levelsDb[band]) || levelsDb[band] < 0.0f) {
            report.fail(std::string(what) + ": level of band index " + std::to_string(band) + " is " +
                        hexFloat(levelsDb[band]));
            return false;
        }
    }
    return true;
}

Observer::Observer(Plugin& plugin, const Product& product) : plugin_(plugin), product_(product), blobs_(plugin) {}

int32_t Observer::componentResponse(int32_t component, float* levels, float* phases, float* time) {
    Report& report = plugin_.report();
    float* l = levels_.reset();
    float* p = phases_.reset();
    float* t = one_.reset();
    const int32_t result = plugin_.CI_GetCompFR(component, l, p, t);
    const bool intact = levels_.beforeIntact() && phases_.beforeIntact() && one_.beforeIntact();
    report.expect(intact, "CI_GetCompFR(" + std::to_string(component) + ") wrote before a host array");
    if (result == 0) {
        levelsFinite(report, l, ("CI_GetCompFR(" + std::to_string(component) + ")").c_str());
    } else {
        report.expect(result == -1, "CI_GetCompFR returned " + std::to_string(result));
        report.expect(levels_.untouched() && phases_.untouched() && one_.untouched(),
                      "CI_GetCompFR(" + std::to_string(component) + ") refused but wrote its arrays");
    }
    if (levels != nullptr) std::memcpy(levels, l, sizeof(float) * kBandCount);
    if (phases != nullptr) std::memcpy(phases, p, sizeof(float) * kBandCount);
    if (time != nullptr) *time = *t;
    return result;
}

void Observer::mesh(int32_t cellCount, Snapshot* into) {
    Report& report = plugin_.report();
    using plugin_api::EdgeRecord;
    using plugin_api::FaceRecord;
    using plugin_api::VertexRecord;
    const int32_t cells = cellCount < 0 ? 0 : cellCount;

    auto number = [&](auto call, const char* name, int32_t expected) {
        int32_t* out = count_.reset();
        const int32_t result = (plugin_.*call)(out);
        const int32_t n = result == 0 ? *out : -1;
        report.expect(count_.beforeIntact(), std::string(name) + " wrote before its host array");
        report.expect(result == 0 && n == expected, std::string(name) + " answered " + std::to_string(result) +
                                                        " with " + std::to_string(n) + ", expected " +
                                                        std::to_string(expected));
        if (into != nullptr) {
            into->section(name);
            into->add(result);
            into->add(n);
        }
        return result == 0 && n == expected ? n : -1;
    };

    const int32_t vertices = number(&Plugin::CS_GetVertexNumber<int32_t*>, "CS_GetVertexNumber", kVerticesPerCell * cells);
    if (vertices >= 0) {
        HostArray<VertexRecord> array{static_cast<size_t>(vertices)};
        report.expect(plugin_.CS_GetVertexArray(array.data()) == 0, "CS_GetVertexArray did not return 0");
        report.expect(array.beforeIntact(), "CS_GetVertexArray wrote before the host's array");
        if (into != nullptr) into->section("CS_GetVertexArray");
        for (int32_t i = 0; i < vertices; ++i) {
            const VertexRecord& v = array[size_t(i)];
            if (!array.untouched(size_t(i) * sizeof(VertexRecord) + 16, 4)) {
                report.fail("CS_GetVertexArray wrote the host's bytes of vertex record " + std::to_string(i));
                break;
            }
            if (v.flag != 1) {
                report.fail("CS_GetVertexArray: vertex record " + std::to_string(i) + " has flag " + std::to_string(v.flag));
                break;
            }
            if (into != nullptr) {
                into->add(v.x);
                into->add(v.y);
                into->add(v.z);
            }
        }
    }

    const int32_t edges = number(&Plugin::CS_GetEdgeNumber<int32_t*>, "CS_GetEdgeNumber", product_.edgesPerCell * cells);
    if (edges >= 0) {
        HostArray<EdgeRecord> array{static_cast<size_t>(edges)};
        report.expect(plugin_.CS_GetEdgeArray(array.data()) == 0, "CS_GetEdgeArray did not return 0");
        report.expect(array.beforeIntact(), "CS_GetEdgeArray wrote before the host's array");
        if (into != nullptr) into->section("CS_GetEdgeArray");
        for (int32_t i = 0; i < edges; ++i) {
            const EdgeRecord& e = array[size_t(i)];
            const bool inRange = e.from != 0 && e.to != 0 && std::abs(e.from) <= vertices && std::abs(e.to) <= vertices;
            const bool flagFits = e.flag == ((e.from > 0 && e.to > 0) ? 1 : 0);
            if (!array.untouched(size_t(i) * sizeof(EdgeRecord) + 12, 4) || !inRange || !flagFits) {
                report.fail("CS_GetEdgeArray: edge record " + std::to_string(i) + " is (" + std::to_string(e.flag) + ", " +
                            std::to_string(e.from) + ", " + std::to_string(e.to) + ") or its host bytes were written");
                break;
            }
            if (into != nullptr) {
                into->add(e.flag);
                into->add(e.from);
                into->add(e.to);
            }
        }
    }

    const int32_t faces = number(&Plugin::CS_GetFaceNumber<int32_t*>, "CS_GetFaceNumber", kFacesPerCell * cells);
    if (faces >= 0) {
        HostArray<FaceRecord> array{static_cast<size_t>(faces)};
        report.expect(plugin_.CS_GetFaceArray(array.data()) == 0, "CS_GetFaceArray did not return 0");
        report.expect(array.beforeIntact(), "CS_GetFaceArray wrote before the host's array");
        if (into != nullptr) into->section("CS_GetFaceArray");
        for (int32_t i = 0; i < faces; ++i) {
            const FaceRecord& f = array[size_t(i)];
            bool ok = (f.vertexCount == 4 || f.vertexCount == 8) && f.indexList != nullptr && f.word1 == 0x101010u &&
                      f.word2 == 0x101010u && f.zero == 0 && std::isfinite(f.areaM2) && f.areaM2 > 0.0f;
            if (ok) {
                bool positive = true;
                for (int32_t k = 0; k <= f.vertexCount; ++k) {
                    const int32_t index = f.indexList[k];
                    ok = ok && index != 0 && std::abs(index) <= vertices;
                    positive = positive && index > 0;
                }
                ok = ok && f.indexList[0] == f.indexList[f.vertexCount] && f.flag == (positive ? 1 : 0);
            }
            if (!ok) {
                report.fail("CS_GetFaceArray: face record " + std::to_string(i) + " does not hold together");
                break;
            }
            if (into != nullptr) {
                into->add(f.flag);
                into->add(f.areaM2);
                into->add(f.vertexCount);
                for (int32_t k = 0; k <= f.vertexCount; ++k) into->add(f.indexList[k]);
            }
        }
    }
}

Snapshot Observer::instance() {
    Report& report = plugin_.report();
    Snapshot s;
    s.section("CI_GetComponents");
    const int32_t n = plugin_.CI_GetComponents();
    s.add(n);
    s.section("CI_GetDistance");
    s.add(plugin_.CI_GetDistance());
    if (n < 0) return s;
    if (!report.expect(n <= kCellCapacity, "CI_GetComponents answered " + std::to_string(n) + ", above the table")) {
        return s;
    }
    s.section("blob");
    const std::optional<Bytes> blob = blobs_.read();
    if (blob) s.add(blob->data(), blob->size());

    for (int32_t c = 1; c <= n; ++c) {
        const std::string cell = "cell " + std::to_string(c) + " ";
        s.section(cell + "position");
        float* p = three_.reset();
        s.add(plugin_.CI_GetCompPosition3fv(c, p));
        report.expect(three_.beforeIntact(), "CI_GetCompPosition3fv wrote before the host's array");
        for (int i = 0; i < 3; ++i) s.add(p[i]);
        s.section(cell + "angles");
        p = three_.reset();
        s.add(plugin_.CI_GetCompAngles3fv(c, p));
        report.expect(three_.beforeIntact(), "CI_GetCompAngles3fv wrote before the host's array");
        for (int i = 0; i < 3; ++i) s.add(p[i]);
        s.section(cell + "distance");
        s.add(plugin_.CI_GetCompDistance(c));
        s.section(cell + "levels");
        float levels[kBandCount], phases[kBandCount], time = 0.0f;
        s.add(componentResponse(c, levels, phases, &time));
        for (float v : levels) s.add(v);
        s.section(cell + "phases");
        for (float v : phases) s.add(v);
        s.section(cell + "time");
        s.add(time);
        s.section(cell + "on-axis levels and directivity factors");
        for (int32_t band = 1; band <= kBandCount; ++band) {
            float* out = one_.reset();
            s.add(plugin_.CI_GetCompSPL1m(c, band, out));
            s.add(*out);
            out = one_.reset();
            s.add(plugin_.CI_GetCompDirectivity(c, band, out));
            s.add(*out);
        }
    }
    s.section("CS_GetSymmetry");
    int32_t* symmetry = count_.reset();
    float* offset = one_.reset();
    s.add(plugin_.CS_GetSymmetry(symmetry, offset));
    s.add(*symmetry);
    s.add(*offset);
    mesh(n, &s);
    return s;
}

Snapshot Observer::plugin(const std::vector<int32_t>& ids, int32_t currentAfter) {
    Snapshot s;
    for (int32_t type : {1, 2, 4}) {
        s.section("DLLGetFlag " + std::to_string(type));
        int32_t* out = count_.reset();
        s.add(plugin_.DLLGetFlag(type, out));
        s.add(*out);
    }
    for (int32_t id : ids) {
        plugin_.CI_MakeCurrent(id);
        Snapshot one = instance();
        const size_t base = s.words.size();
        for (auto& [start, what] : one.sections) s.sections.emplace_back(base + start, "id " + std::to_string(id) + " " + what);
        s.words.insert(s.words.end(), one.words.begin(), one.words.end());
    }
    plugin_.CI_MakeCurrent(currentAfter);
    return s;
}

}  // namespace validator
