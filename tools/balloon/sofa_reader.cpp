#include "tools/balloon/sofa_reader.h"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <new>
#include <sstream>

namespace balloon {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;
constexpr int kBandIndexOf1kHz = 10;
constexpr double kSamePositionM = 1e-6;

struct Refusal {
    std::string where, reason;
};

class NcFile {
public:
    explicit NcFile(const std::string& path) { status_ = nc_open(path.c_str(), NC_NOWRITE, &id_); }
    // A file already in memory; the library reads it in place and keeps no
    // pointer to it past close.
    NcFile(const std::string& name, std::vector<unsigned char>& bytes) {
        status_ = nc_open_mem(name.c_str(), NC_NOWRITE, bytes.size(), bytes.data(), &id_);
    }
    ~NcFile() {
        if (status_ == NC_NOERR) nc_close(id_);
    }
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;
    int status() const { return status_; }
    int id() const { return id_; }

private:
    int id_ = -1;
    int status_ = NC_NOERR;
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A text attribute, or false when absent or not text.
bool textAttribute(int nc, int var, const char* name, std::string& out) {
    nc_type type;
    size_t length;
    if (nc_inq_att(nc, var, name, &type, &length) != NC_NOERR) return false;
    if (type == NC_CHAR) {
        out.assign(length, '\0');
        if (length && nc_get_att_text(nc, var, name, out.data()) != NC_NOERR) return false;
        // C writers store the terminating zero; a zero inside the text is
        // kept, for the provenance's sanitiser to make a space of rather
        // than to cut the text short.
        while (!out.empty() && out.back() == '\0') out.pop_back();
        return true;
    }
    if (type == NC_STRING && length == 1) {
        char* value = nullptr;
        if (nc_get_att_string(nc, var, name, &value) != NC_NOERR) return false;
        out = value ? value : "";
        nc_free_string(1, &value);
        return true;
    }
    return false;
}

// Unit lists as SOFA writes them: "degree, degree, metre", with the plural
// and American spellings and commas or blanks between.
std::vector<std::string> unitTokens(const std::string& units) {
    std::string s = lower(units);
    std::replace(s.begin(), s.end(), ',', ' ');
    std::istringstream in(s);
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    return tokens;
}
bool isDegree(const std::string& t) { return t == "degree" || t == "degrees"; }
bool isMetre(const std::string& t) { return t == "metre" || t == "metres" || t == "meter" || t == "meters" || t == "m"; }

// A variable's own dimensions, by name and length, as the file declares them.
struct Shape {
    std::vector<std::string> names;
    std::vector<size_t> lengths;
};

Shape shapeOf(int nc, int var) {
    Shape shape;
    int count = 0;
    if (nc_inq_varndims(nc, var, &count) != NC_NOERR || count < 0 || count > NC_MAX_VAR_DIMS) return shape;
    std::vector<int> ids(static_cast<size_t>(count));
    if (count > 0 && nc_inq_vardimid(nc, var, ids.data()) != NC_NOERR) return shape;
    for (int id : ids) {
        char name[NC_MAX_NAME + 1] = {};
        size_t length = 0;
        nc_inq_dimname(nc, id, name);
        nc_inq_dimlen(nc, id, &length);
        shape.names.emplace_back(name);
        shape.lengths.push_back(length);
    }
    return shape;
}

std::vector<std::string> dimensionNames(int nc, int var) { return shapeOf(nc, var).names; }

// The number of values a shape holds, if it is at most `cap`; the product
// is checked step by step, so no size wraps around.
bool valueCount(const Shape& shape, size_t cap, size_t& count) {
    count = 1;
    for (size_t length : shape.lengths) {
        if (length != 0 && count > cap / length) return false;
        count *= length;
    }
    return count <= cap;
}

std::string tooLarge(const Shape& shape, size_t cap) {
    std::string dims;
    for (size_t i = 0; i < shape.names.size(); ++i)
        dims += (i ? " x " : "") + shape.names[i] + " = " + std::to_string(shape.lengths[i]);
    return "declares " + dims + ", more than the importer's cap of " + std::to_string(cap) + " values";
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return "[" + s + "]";
}

size_t dimensionLength(int nc, const char* name) {
    int id;
    size_t length = 0;
    if (nc_inq_dimid(nc, name, &id) == NC_NOERR) nc_inq_dimlen(nc, id, &length);
    return length;
}

std::string number(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

std::string hz(double f) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", f);
    return text;
}

// Weights of each frequency bin in each band: the overlap of the bin (half
// way to its neighbours) with the band, so uneven spacing is handled too.
bool narrowBinWeights(const std::vector<double>& f, std::vector<std::vector<std::pair<size_t, double>>>& weights,
                      Refusal& refusal) {
    weights.assign(acoustics::kBandCount, {});
    const size_t n = f.size();
    for (int band = 0; band < acoustics::kBandCount; ++band) {
        const double lo = bandLowerEdgeHz(band), hi = bandUpperEdgeHz(band);
        bool centreInside = false;
        for (size_t i = 0; i < n; ++i) {
            const double binLo = i == 0 ? f[0] - 0.5 * (n > 1 ? f[1] - f[0] : 0.0) : 0.5 * (f[i - 1] + f[i]);
            const double binHi = i + 1 == n ? f[i] + 0.5 * (n > 1 ? f[i] - f[i - 1] : 0.0) : 0.5 * (f[i] + f[i + 1]);
            const double overlap = std::min(hi, binHi) - std::max(lo, binLo);
            if (overlap > 0) weights[band].push_back({i, overlap});
            centreInside = centreInside || (f[i] >= lo && f[i] < hi);
        }
        if (!centreInside) {
            refusal = {"N", "no frequency within the " + hz(acoustics::bandCentreHz(band)) + " Hz band (" + hz(lo) +
                                "-" + hz(hi) + " Hz)"};
            return false;
        }
        // The bins reach half way to their neighbours; a band they do not
        // reach to both edges would be averaged over part of its width.
        double covered = 0;
        for (const auto& [bin, w] : weights[band]) covered += w;
        if (covered < (hi - lo) * (1 - 1e-9)) {
            refusal = {"N", "the frequencies cover " + hz(covered) + " Hz of the " + hz(hi - lo) + " Hz wide " +
                                hz(acoustics::bandCentreHz(band)) + " Hz band"};
            return false;
        }
    }
    return true;
}

// One value per band when every frequency is a third-octave centre.
bool centreWeights(const std::vector<double>& f, std::vector<std::vector<std::pair<size_t, double>>>& weights,
                   bool& isCentres) {
    weights.assign(acoustics::kBandCount, {});
    isCentres = true;
    for (size_t i = 0; i < f.size() && isCentres; ++i) {
        const int k = static_cast<int>(std::lround(10.0 * std::log10(f[i] / 1000.0)));
        const double exact = 1000.0 * std::pow(10.0, k / 10.0);
        isCentres = f[i] > 0 && std::fabs(f[i] / exact - 1.0) < kCentreMatchRatio;
        const int band = k + kBandIndexOf1kHz;
        if (isCentres && band >= 0 && band < acoustics::kBandCount) {
            if (!weights[band].empty()) isCentres = false;
            weights[band].push_back({i, 1.0});
        }
    }
    if (!isCentres) return false;
    return std::all_of(weights.begin(), weights.end(), [](const auto& w) { return !w.empty(); });
}

// Position-like triples as cartesian metres: at(i, k) is row i (a receiver)
// in measurement k, perM being 1 when the variable does not vary with M.
struct Triples {
    size_t rows = 0, perM = 1;
    std::vector<Direction> v;
    const Direction& at(size_t i, size_t k) const { return v[i * perM + k]; }
};

double length(const Direction& d) { return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z); }
double dot(const Direction& a, const Direction& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Direction scaled(const Direction& d, double s) { return {d.x * s, d.y * s, d.z * s}; }

// ReceiverPosition is [R, C, I], [R, C, M] or [R, C]; the source's position,
// view and up are [I, C] or [M, C]. Type and Units may be on another
// variable (SourceUp takes those of SourceView); without a Type, `defaultType`.
bool readTriples(int nc, const std::string& name, const std::string& attributesOf, const char* defaultType,
                 size_t cap, Triples& out, Refusal& refusal) {
    int var;
    if (nc_inq_varid(nc, name.c_str(), &var) != NC_NOERR) {
        refusal = {name, "missing"};
        return false;
    }
    const Shape shape = shapeOf(nc, var);
    const std::vector<std::string>& dims = shape.names;
    const size_t m = dimensionLength(nc, "M");
    const bool receivers = name == "ReceiverPosition";
    using Names = std::vector<std::string>;
    bool ok = dimensionLength(nc, "C") == 3;
    if (receivers) {
        out.rows = dimensionLength(nc, "R");
        out.perM = dims == Names{"R", "C", "M"} ? m : 1;
        ok = ok && (dims == Names{"R", "C", "M"} || dims == Names{"R", "C", "I"} || dims == Names{"R", "C"});
    } else {
        out.rows = 1;
        out.perM = dims == Names{"M", "C"} ? m : 1;
        ok = ok && (dims == Names{"M", "C"} || dims == Names{"I", "C"});
    }
    if (!ok) {
        refusal = {name, "dimensions " + joined(dims) + ", expected " +
                             (receivers ? "[R, C, I], [R, C, M] or [R, C]" : "[I, C] or [M, C]") + " with C = 3"};
        return false;
    }
    // I is a singleton in SOFA: one value per row, whatever the file says.
    for (size_t d = 0; d < dims.size(); ++d) {
        if (dims[d] == "I" && shape.lengths[d] != 1) {
            refusal = {name, "dimension I is " + std::to_string(shape.lengths[d]) + ", expected 1"};
            return false;
        }
    }
    size_t values = 0;
    if (!valueCount(shape, cap, values)) {
        refusal = {name, tooLarge(shape, cap)};
        return false;
    }
    if (values != out.rows * 3 * out.perM) {
        refusal = {name, "holds " + std::to_string(values) + " values, expected " +
                             std::to_string(out.rows * 3 * out.perM)};
        return false;
    }
    int attrVar = var;
    std::string type, units;
    if (!textAttribute(nc, var, "Type", type) && attributesOf != name &&
        nc_inq_varid(nc, attributesOf.c_str(), &attrVar) == NC_NOERR)
        textAttribute(nc, attrVar, "Type", type);
    else
        attrVar = var;
    textAttribute(nc, attrVar, "Units", units);
    const std::string typeName = attrVar == var ? name : attributesOf;
    if (type.empty() && defaultType) type = defaultType;
    const bool spherical = lower(type) == "spherical";
    if (!spherical && lower(type) != "cartesian") {
        refusal = {typeName + ":Type", "'" + type + "', expected 'spherical' or 'cartesian'"};
        return false;
    }
    const std::vector<std::string> u = unitTokens(units);
    const bool unitsOk = spherical ? (u.size() == 3 && isDegree(u[0]) && isDegree(u[1]) && isMetre(u[2]))
                                   : ((u.size() == 1 || u.size() == 3) && std::all_of(u.begin(), u.end(), isMetre)) ||
                                         (u.empty() && defaultType);
    if (!unitsOk) {
        refusal = {typeName + ":Units",
                   "'" + units + "', expected " + (spherical ? "'degree, degree, metre'" : "'metre'")};
        return false;
    }
    std::vector<double> raw(values);
    if (nc_get_var_double(nc, var, raw.data()) != NC_NOERR) {
        refusal = {name, "cannot be read as numbers"};
        return false;
    }
    out.v.clear();
    for (size_t i = 0; i < out.rows; ++i)
        for (size_t k = 0; k < out.perM; ++k) {
            auto c = [&](size_t axis) { return receivers ? raw[(i * 3 + axis) * out.perM + k] : raw[k * 3 + axis]; };
            Direction d{c(0), c(1), c(2)};
            if (spherical) {
                // A negative radius would silently turn the direction round.
                if (c(2) < 0) {
                    refusal = {name, "row " + std::to_string(i + 1) + ": radius " + number(c(2)) +
                                         " m; a spherical position's radius is not negative"};
                    return false;
                }
                const double az = c(0) * kDegToRad, el = c(1) * kDegToRad;
                d = {c(2) * std::cos(el) * std::cos(az), c(2) * std::cos(el) * std::sin(az), c(2) * std::sin(el)};
            }
            out.v.push_back(d);
        }
    return true;
}

// The source's frame from SourceView (its axis) and SourceUp, up made
// orthogonal to the axis; without them SOFA's default, view +x and up +z.
struct Frame {
    Direction x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    Direction toSource(const Direction& d) const { return {dot(d, x), dot(d, y), dot(d, z)}; }
};

bool sourceFrame(int nc, size_t cap, Frame& frame, Refusal& refusal) {
    int var;
    const bool hasView = nc_inq_varid(nc, "SourceView", &var) == NC_NOERR;
    const bool hasUp = nc_inq_varid(nc, "SourceUp", &var) == NC_NOERR;
    Direction view = frame.x, up = frame.z;
    for (const char* name : {"SourceView", "SourceUp"}) {
        if (!(name[6] == 'V' ? hasView : hasUp)) continue;
        Triples t;
        if (!readTriples(nc, name, "SourceView", "cartesian", cap, t, refusal)) return false;
        for (size_t k = 1; k < t.perM; ++k)
            if (length(Direction{t.at(0, k).x - t.at(0, 0).x, t.at(0, k).y - t.at(0, 0).y,
                                 t.at(0, k).z - t.at(0, 0).z}) > kSamePositionM) {
                refusal = {name, "varies with the measurement; the source's frame must be the same in all"};
                return false;
            }
        (name[6] == 'V' ? view : up) = t.at(0, 0);
    }
    const double viewLength = length(view);
    if (!std::isfinite(viewLength) || !(viewLength > 0)) {
        refusal = {"SourceView", "zero or not finite; it must point along the source's axis"};
        return false;
    }
    frame.x = scaled(view, 1.0 / viewLength);
    const Direction across = {up.x - dot(up, frame.x) * frame.x.x, up.y - dot(up, frame.x) * frame.x.y,
                              up.z - dot(up, frame.x) * frame.x.z};
    const double upLength = length(up), acrossLength = length(across);
    if (!std::isfinite(upLength) || !(acrossLength > 1e-6 * upLength)) {
        refusal = {"SourceUp", "zero, not finite or parallel to SourceView; it must say where the source's up is"};
        return false;
    }
    frame.z = scaled(across, 1.0 / acrossLength);
    frame.y = {frame.z.y * frame.x.z - frame.z.z * frame.x.y, frame.z.z * frame.x.x - frame.z.x * frame.x.z,
               frame.z.x * frame.x.y - frame.z.y * frame.x.x};  // up x axis: the source's left
    return true;
}

}  // namespace

double bandLowerEdgeHz(int band) { return 1000.0 * std::pow(10.0, (band - kBandIndexOf1kHz - 0.5) / 10.0); }
double bandUpperEdgeHz(int band) { return 1000.0 * std::pow(10.0, (band - kBandIndexOf1kHz + 0.5) / 10.0); }

namespace {

SofaDirectivity readOpenFile(const NcFile& file, const std::string& path, const SofaOptions& options) {
    SofaDirectivity out;
    auto refuse = [&](std::string where, std::string reason) {  // copies: they may name a field of out
        out = {};
        out.error = path + ": " + where + ": " + reason;
        return out;
    };
    if (file.status() != NC_NOERR) return refuse("file", std::string("cannot open as netCDF: ") + nc_strerror(file.status()));
    const int nc = file.id();
    const size_t cap = std::min(options.maxValuesPerVariable, kMaxValuesPerVariable);

    std::string text;
    if (!textAttribute(nc, NC_GLOBAL, "Conventions", text) || text != "SOFA")
        return refuse("GLOBAL:Conventions", "must be 'SOFA'");
    std::string conventions, version;
    textAttribute(nc, NC_GLOBAL, "SOFAConventions", conventions);
    textAttribute(nc, NC_GLOBAL, "SOFAConventionsVersion", version);
    if (conventions == "FreeFieldDirectivityTF") {
        if (version != "1.0" && version != "1.1")
            return refuse("GLOBAL:SOFAConventionsVersion",
                          "FreeFieldDirectivityTF version '" + version + "' is not accepted (1.0 or 1.1)");
    } else if (conventions == "GeneralTF") {
        if (version != "1.0" && version != "2.0")
            return refuse("GLOBAL:SOFAConventionsVersion",
                          "GeneralTF version '" + version + "' is not accepted (1.0 or 2.0)");
    } else {
        return refuse("GLOBAL:SOFAConventions",
                      "'" + conventions + "' is not accepted (FreeFieldDirectivityTF or GeneralTF)");
    }
    if (!textAttribute(nc, NC_GLOBAL, "DataType", text) || text != "TF")
        return refuse("GLOBAL:DataType", "must be 'TF' (complex pressure per frequency)");

    const size_t m = dimensionLength(nc, "M"), r = dimensionLength(nc, "R"), n = dimensionLength(nc, "N");
    int realVar = -1, imagVar = -1;
    for (const char* name : {"Data.Real", "Data.Imag"}) {
        int var;
        if (nc_inq_varid(nc, name, &var) != NC_NOERR) return refuse(name, "missing");
        const Shape shape = shapeOf(nc, var);
        if (shape.names != std::vector<std::string>{"M", "R", "N"})
            return refuse(name, "dimensions " + joined(shape.names) + ", expected [M, R, N]");
        // One receiver's values, M x N, are read at a time.
        size_t perReceiver = 0;
        const Shape perReceiverShape{{"M", "N"}, {m, n}};
        if (!valueCount(perReceiverShape, cap, perReceiver)) return refuse(name, tooLarge(perReceiverShape, cap));
        const size_t dataCap = std::min(options.maxDataValues, kMaxDataValues);
        if (!valueCount(shape, dataCap, perReceiver)) return refuse(name, tooLarge(shape, dataCap));
        (name[5] == 'R' ? realVar : imagVar) = var;
    }
    if (m == 0 || r == 0 || n == 0) return refuse("Data.Real", "empty");
    const bool general = conventions == "GeneralTF";
    if (general && (options.measurement != 0 || options.sumGiven))
        return refuse("M", "in GeneralTF each measurement is one direction; --measurement and --sum choose among "
                           "the drivers of a FreeFieldDirectivityTF file");
    if (general && r != 1)
        return refuse("R", std::to_string(r) + " receivers; GeneralTF is read with one receiver, the "
                                               "measurements giving the directions");
    if (options.measurement < 0 || static_cast<size_t>(options.measurement) > m)
        return refuse("M", "measurement " + std::to_string(options.measurement) + " asked for, the file holds " +
                                std::to_string(m));
    // --use: the measurements each band is taken from.
    std::vector<std::vector<size_t>> bandMembers;
    const bool crossoverComplex = options.sumGiven && options.sum == MeasurementSum::Complex;
    if (!options.use.empty()) {
        if (general || options.measurement != 0)
            return refuse("M", general ? "--use chooses among the drivers of a FreeFieldDirectivityTF file"
                                       : "--use and --measurement both choose measurements; give one");
        bandMembers.assign(acoustics::kBandCount, {});
        for (const BandUse& u : options.use) {
            if (u.measurement < 1 || static_cast<size_t>(u.measurement) > m || !(u.lowHz <= u.highHz))
                return refuse("--use", std::to_string(u.measurement) + ":" + number(u.lowHz) + "-" + number(u.highHz) +
                                           ": a measurement 1-" + std::to_string(m) + " and a rising range in Hz");
            for (int band = 0; band < acoustics::kBandCount; ++band) {
                const double centre = acoustics::bandCentreHz(band);
                if (centre >= u.lowHz && centre <= u.highHz) bandMembers[band].push_back(static_cast<size_t>(u.measurement - 1));
            }
        }
        std::string uncovered;
        for (int band = 0; band < acoustics::kBandCount; ++band) {
            std::sort(bandMembers[band].begin(), bandMembers[band].end());
            bandMembers[band].erase(std::unique(bandMembers[band].begin(), bandMembers[band].end()), bandMembers[band].end());
            if (bandMembers[band].empty()) uncovered += (uncovered.empty() ? "" : ", ") + number(acoustics::bandCentreHz(band));
        }
        if (!uncovered.empty()) return refuse("--use", "no measurement is used for the bands at " + uncovered + " Hz");
    }

    // Frequencies.
    int nVar;
    if (nc_inq_varid(nc, "N", &nVar) != NC_NOERR) return refuse("N", "missing");
    if (!textAttribute(nc, nVar, "Units", text)) return refuse("N:Units", "missing, expected 'hertz'");
    if (lower(text) != "hertz" && lower(text) != "hz") return refuse("N:Units", "'" + text + "', expected 'hertz'");
    if (dimensionNames(nc, nVar) != std::vector<std::string>{"N"})
        return refuse("N", "dimensions " + joined(dimensionNames(nc, nVar)) + ", expected [N]");
    std::vector<double> f(n);
    if (nc_get_var_double(nc, nVar, f.data()) != NC_NOERR) return refuse("N", "cannot be read as numbers");
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(f[i]) || f[i] < 0 || (i > 0 && !(f[i] > f[i - 1])))
            return refuse("N", "frequencies must be finite, not negative and rising (value " + std::to_string(i + 1) + ")");
    std::vector<std::vector<std::pair<size_t, double>>> weights;
    if (!centreWeights(f, weights, out.bandCentreValues)) {
        if (out.bandCentreValues)
            return refuse("N", "band-centre values do not cover every band 100-10000 Hz, once each");
        Refusal refusal;
        if (!narrowBinWeights(f, weights, refusal)) return refuse(refusal.where, refusal.reason);
    }

    // Directions: per receiver in FreeFieldDirectivityTF, per measurement in
    // GeneralTF, both relative to the source, expressed in its own frame.
    Frame frame;
    Refusal refusal;
    if (!sourceFrame(nc, cap, frame, refusal)) return refuse(refusal.where, refusal.reason);
    Triples positions;
    out.directionVariable = general ? "SourcePosition" : "ReceiverPosition";
    if (!readTriples(nc, out.directionVariable, out.directionVariable, nullptr, cap, positions, refusal))
        return refuse(refusal.where, refusal.reason);
    std::vector<double> radius;
    std::vector<Direction> directions;
    const size_t count = general ? m : r;
    if (count > kMaxDirections)
        return refuse(out.directionVariable, std::to_string(count) + " directions; the import takes at most " +
                                                 std::to_string(kMaxDirections) + " (a 0.25-degree grid holds 1,037,520)");
    for (size_t i = 0; i < count; ++i) {
        const Direction d = general ? positions.at(0, positions.perM == 1 ? 0 : i) : positions.at(i, 0);
        if (!general)
            for (size_t k = 1; k < positions.perM; ++k)
                if (length(Direction{positions.at(i, k).x - d.x, positions.at(i, k).y - d.y,
                                     positions.at(i, k).z - d.z}) > kSamePositionM)
                    return refuse("ReceiverPosition", "receiver " + std::to_string(i + 1) +
                                                          " moves between measurements; directions must be the same in all");
        const double distance = length(d);
        if (!std::isfinite(distance) || !(distance > 0))
            return refuse(out.directionVariable, std::string(general ? "measurement " : "receiver ") +
                                                     std::to_string(i + 1) + " has no finite distance from the source");
        radius.push_back(distance);
        directions.push_back(frame.toSource(scaled(d, 1.0 / distance)));
    }

    // Pressures, one receiver at a time, reduced to band energies at 1 m.
    const double scale2 = options.pascalPerUnit * options.pascalPerUnit;
    if (!std::isfinite(scale2) || !(scale2 > 0))
        return refuse("--pa-per-unit", number(options.pascalPerUnit) + " pascal per unit squares to " + number(scale2) +
                                           "; it must be a positive number whose square is finite");
    std::vector<double> re(m * n), im(m * n);
    // Finite values can still square and add past the range of a double; a
    // band energy that is not finite is refused, never carried into the
    // balloon. `where` names the direction: "R 5" or "M 5".
    std::string overflow;
    auto bandEnergies = [&](const std::vector<double>& power, double distance, const std::string& where) {
        BandEnergies e{};
        for (int band = 0; band < acoustics::kBandCount; ++band) {
            double sum = 0, width = 0;
            for (const auto& [bin, w] : weights[band]) sum += w * power[bin], width += w;
            e[band] = sum / width * scale2 * distance * distance;  // inverse distance law to 1 m
            if (!std::isfinite(e[band]) && overflow.empty())
                overflow = "the " + hz(acoustics::bandCentreHz(band)) + " Hz band energy at " + where +
                           " overflows a double (pressures this large are not pascal: scale them with --pa-per-unit)";
        }
        return e;
    };
    const bool complexSumOfSeveral = !general && m > 1 && options.measurement == 0 && options.sum == MeasurementSum::Complex;
    textAttribute(nc, realVar, "Units", out.dataUnits);
    for (const char* name : kProvenanceAttributes) {
        std::string value;
        textAttribute(nc, NC_GLOBAL, name, value);
        out.provenance.push_back(value);
    }
    for (size_t i = 0; i < (general ? 1 : r); ++i) {
        const size_t start[3] = {0, i, 0}, count3[3] = {m, 1, n};
        if (nc_get_vara_double(nc, realVar, start, count3, re.data()) != NC_NOERR)
            return refuse("Data.Real", "cannot be read as numbers");
        if (nc_get_vara_double(nc, imagVar, start, count3, im.data()) != NC_NOERR)
            return refuse("Data.Imag", "cannot be read as numbers");
        for (size_t j = 0; j < m; ++j)
            for (size_t k = 0; k < n; ++k)
                if (!std::isfinite(re[j * n + k]) || !std::isfinite(im[j * n + k]))
                    return refuse(std::isfinite(re[j * n + k]) ? "Data.Imag" : "Data.Real",
                                  "value at M " + std::to_string(j + 1) + ", R " + std::to_string(i + 1) + ", N " +
                                      std::to_string(k + 1) + " is not finite");
        if (general) {
            for (size_t j = 0; j < m; ++j) {
                std::vector<double> power(n);
                for (size_t k = 0; k < n; ++k) power[k] = re[j * n + k] * re[j * n + k] + im[j * n + k] * im[j * n + k];
                out.energies.push_back(bandEnergies(power, radius[j], "M " + std::to_string(j + 1)));
                if (!overflow.empty()) return refuse("Data.Real", overflow);
                out.directions.push_back(directions[j]);
            }
            continue;
        }
        if (!bandMembers.empty()) {
            // Each band from its own measurements; at a crossover they add as
            // energies, or as pressures when asked to.
            BandEnergies e{};
            for (int band = 0; band < acoustics::kBandCount; ++band) {
                double sum = 0, width = 0;
                for (const auto& [bin, w] : weights[band]) {
                    double sr = 0, si = 0, energy = 0;
                    for (size_t j : bandMembers[band]) {
                        const double a = re[j * n + bin], b = im[j * n + bin];
                        sr += a, si += b, energy += a * a + b * b;
                    }
                    sum += w * (crossoverComplex ? sr * sr + si * si : energy);
                    width += w;
                }
                e[band] = sum / width * scale2 * radius[i] * radius[i];
                if (!std::isfinite(e[band]))
                    return refuse("Data.Real", "the " + hz(acoustics::bandCentreHz(band)) + " Hz band energy at R " +
                                                   std::to_string(i + 1) + " overflows a double");
            }
            out.energies.push_back(e);
            out.directions.push_back(directions[i]);
            continue;
        }
        std::vector<double> power(n, 0.0), uncorrelated(n, 0.0);
        for (size_t k = 0; k < n; ++k) {
            double sr = 0, si = 0;
            for (size_t j = 0; j < m; ++j) {
                if (options.measurement != 0 && j + 1 != static_cast<size_t>(options.measurement)) continue;
                const double a = re[j * n + k], b = im[j * n + k];
                uncorrelated[k] += a * a + b * b;
                sr += a, si += b;
            }
            power[k] = options.sum == MeasurementSum::Complex || options.measurement != 0 ? sr * sr + si * si
                                                                                           : uncorrelated[k];
        }
        out.energies.push_back(bandEnergies(power, radius[i], "R " + std::to_string(i + 1)));
        if (complexSumOfSeveral) out.powerSumEnergies.push_back(bandEnergies(uncorrelated, radius[i], "R " + std::to_string(i + 1)));
        if (!overflow.empty()) return refuse("Data.Real", overflow);
        out.directions.push_back(directions[i]);
    }
    const std::string ofM = " of " + std::to_string(m);
    if (!bandMembers.empty()) {
        // "100-630 Hz from measurement 1, 800 Hz from 1+2 (power sum at the crossover), ..."
        out.combination = "bands by --use:";
        for (int band = 0; band < acoustics::kBandCount;) {
            int last = band;
            while (last + 1 < acoustics::kBandCount && bandMembers[last + 1] == bandMembers[band]) ++last;
            std::string members;
            for (size_t j : bandMembers[band]) members += (members.empty() ? "" : "+") + std::to_string(j + 1);
            out.combination += std::string(band ? "," : "") + " " + number(acoustics::bandCentreHz(band)) +
                               (last > band ? "-" + number(acoustics::bandCentreHz(last)) : "") + " Hz from " +
                               (bandMembers[band].size() > 1 ? "measurements " + members +
                                                                   (crossoverComplex ? " (complex sum at the crossover)"
                                                                                     : " (power sum at the crossover)")
                                                             : "measurement " + members);
            band = last + 1;
        }
        return out;
    }
    out.combination = general                   ? "one direction per measurement (" + std::to_string(m) + ")"
                      : options.measurement != 0 ? "measurement " + std::to_string(options.measurement) + ofM
                      : m == 1                   ? "measurement 1 of 1"
                      : options.sum == MeasurementSum::Power ? "power sum" + ofM + " measurements"
                                                             : "complex sum" + ofM + " measurements";
    return out;
}

}  // namespace

SofaDirectivity readSofaDirectivity(const std::string& path, const SofaOptions& options) {
    const NcFile file(path);
    return readOpenFile(file, path, options);
}

SofaDirectivity readSofaDirectivity(const std::string& name, std::vector<unsigned char> bytes,
                                    const SofaOptions& options) {
    const NcFile file(name, bytes);
    return readOpenFile(file, name, options);
}


namespace {

// The isolated reader's time: a minute, and a second per 10 MB of file
// (reading runs at some hundreds of MB a second).
constexpr double kReaderBaseSeconds = 60.0;
constexpr double kReaderBytesPerSecond = 10e6;

// The result crosses from the child to the parent as plain bytes: strings
// and arrays with their lengths first, numbers in the machine's own form
// (both ends are the same program).
void put(std::string& out, const void* data, size_t size) { out.append(static_cast<const char*>(data), size); }
void putSize(std::string& out, size_t n) { put(out, &n, sizeof n); }
void putText(std::string& out, const std::string& text) {
    putSize(out, text.size());
    out += text;
}

struct Reader {
    const std::string& in;
    size_t at = 0;
    bool take(void* data, size_t size) {
        if (size > in.size() - at) return false;
        std::memcpy(data, in.data() + at, size);
        at += size;
        return true;
    }
    bool size(size_t& n) { return take(&n, sizeof n); }
    bool text(std::string& s) {
        size_t n;
        if (!size(n) || n > in.size() - at) return false;
        s.assign(in, at, n);
        at += n;
        return true;
    }
};

std::string serialised(const SofaDirectivity& d) {
    std::string out;
    putText(out, d.error);
    putText(out, d.combination);
    putText(out, d.directionVariable);
    putText(out, d.dataUnits);
    const char centres = d.bandCentreValues ? 1 : 0;
    put(out, &centres, 1);
    putSize(out, d.directions.size());
    for (size_t i = 0; i < d.directions.size(); ++i) {
        put(out, &d.directions[i], sizeof(Direction));
        put(out, d.energies[i].data(), sizeof(BandEnergies));
    }
    putSize(out, d.powerSumEnergies.size());
    for (const BandEnergies& e : d.powerSumEnergies) put(out, e.data(), sizeof(BandEnergies));
    putSize(out, d.provenance.size());
    for (const std::string& text : d.provenance) putText(out, text);
    return out;
}

bool deserialised(const std::string& in, SofaDirectivity& d) {
    Reader r{in};
    char centres = 0;
    size_t count = 0;
    if (!r.text(d.error) || !r.text(d.combination) || !r.text(d.directionVariable) || !r.text(d.dataUnits) ||
        !r.take(&centres, 1) || !r.size(count) || count > (in.size() - r.at) / (sizeof(Direction) + sizeof(BandEnergies)))
        return false;
    d.bandCentreValues = centres != 0;
    d.directions.resize(count);
    d.energies.resize(count);
    for (size_t i = 0; i < count; ++i)
        if (!r.take(&d.directions[i], sizeof(Direction)) || !r.take(d.energies[i].data(), sizeof(BandEnergies)))
            return false;
    if (!r.size(count) || count > (in.size() - r.at) / sizeof(BandEnergies)) return false;
    d.powerSumEnergies.resize(count);
    for (BandEnergies& e : d.powerSumEnergies)
        if (!r.take(e.data(), sizeof(BandEnergies))) return false;
    if (!r.size(count) || count > std::size(kProvenanceAttributes)) return false;
    d.provenance.resize(count);
    for (std::string& text : d.provenance)
        if (!r.text(text)) return false;
    return r.at == in.size();
}

// The most bytes a result within the caps takes: per direction its vector
// and two sets of band energies, and the texts.
constexpr size_t kMaxResultBytes = kMaxDirections * (sizeof(Direction) + 2 * sizeof(BandEnergies)) + (size_t(16) << 20);

std::string outOfMemory(size_t addressSpace) {
    return "ran out of memory: reading it needs more than the reader's " + std::to_string(addressSpace >> 20) +
           " MiB or than this machine can give";
}

bool writeAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

SofaDirectivity readSofaDirectivityIsolated(const std::string& path, const SofaOptions& options) {
    auto refusal = [&](const std::string& reason) {
        SofaDirectivity out;
        out.error = path + ": file: " + reason;
        return out;
    };
    int fds[2];
    if (pipe(fds) != 0) return refusal(std::string("cannot start the reader: ") + std::strerror(errno));
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return refusal(std::string("cannot start the reader: ") + std::strerror(errno));
    }
    const size_t addressSpace = options.readerAddressSpaceBytes ? options.readerAddressSpaceBytes : kReaderAddressSpaceBytes;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the parent, even stuck in a library
        close(fds[0]);
        // No core file of a library's fault, and no more memory than the
        // largest file the caps allow needs: a file that asks for more fails
        // an allocation here instead of pushing the machine into swap.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (kReaderAddressSpaceLimited) {
            const rlimit space{addressSpace, addressSpace};
            setrlimit(RLIMIT_AS, &space);
        }
        int status = 0;
        try {
            status = writeAll(fds[1], serialised(readSofaDirectivity(path, options))) ? 0 : 3;
        } catch (const std::bad_alloc&) {
            status = writeAll(fds[1], serialised(refusal(outOfMemory(addressSpace)))) ? 0 : 3;
        }
        close(fds[1]);
        _exit(status);
    }
    close(fds[1]);
    double limitSeconds = options.readerSeconds;
    if (!(limitSeconds > 0)) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        limitSeconds = kReaderBaseSeconds + (error ? 0.0 : static_cast<double>(size) / kReaderBytesPerSecond);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limitSeconds);
    std::string bytes;
    char buffer[1 << 16];
    bool late = false, overlong = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fds[0], POLLIN, 0};
        const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) : 0;
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            if (std::chrono::steady_clock::now() < deadline) continue;
            late = true;
            kill(child, SIGKILL);
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (static_cast<size_t>(n) > kMaxResultBytes - bytes.size()) {
            overlong = true;  // more than any result within the caps: not our reader's
            kill(child, SIGKILL);
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (overlong) return refusal("the reader's result ran past " + std::to_string(kMaxResultBytes >> 20) + " MiB; it was stopped");
    if (late) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the netCDF library was still reading this file after %.0f s; it was stopped (a damaged file "
                      "can make it loop)",
                      limitSeconds);
        return refusal(text);
    }
    // The reader returns every refusal itself; a process the system killed
    // (we did not) ran out of memory; one that ended another way met a fault
    // in the libraries (or, under a sanitizer, a report).
    SofaDirectivity result;
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return refusal(outOfMemory(addressSpace) + "; the system stopped the reader at " +
                       std::to_string(usage.ru_maxrss / 1024) + " MiB");
    if (!exited || !deserialised(bytes, result)) {
        const std::string how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                                    : "no result";
        return refusal("the netCDF library failed on this file (the reader ended with " + how +
                       "): it is damaged or not what it claims to be");
    }
    return result;
}

}  // namespace balloon
