#include "tools/balloon/sofa_reader.h"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
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
        out.erase(std::find(out.begin(), out.end(), '\0'), out.end());
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

std::vector<std::string> dimensionNames(int nc, int var) {
    int count = 0;
    nc_inq_varndims(nc, var, &count);
    std::vector<int> ids(count);
    nc_inq_vardimid(nc, var, ids.data());
    std::vector<std::string> names;
    for (int id : ids) {
        char name[NC_MAX_NAME + 1];
        nc_inq_dimname(nc, id, name);
        names.emplace_back(name);
    }
    return names;
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

}  // namespace

double bandLowerEdgeHz(int band) { return 1000.0 * std::pow(10.0, (band - kBandIndexOf1kHz - 0.5) / 10.0); }
double bandUpperEdgeHz(int band) { return 1000.0 * std::pow(10.0, (band - kBandIndexOf1kHz + 0.5) / 10.0); }

SofaDirectivity readSofaDirectivity(const std::string& path, const SofaOptions& options) {
    SofaDirectivity out;
    auto refuse = [&](const std::string& where, const std::string& reason) {
        out = {};
        out.error = path + ": " + where + ": " + reason;
        return out;
    };
    NcFile file(path);
    if (file.status() != NC_NOERR) return refuse("file", std::string("cannot open as netCDF: ") + nc_strerror(file.status()));
    const int nc = file.id();

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
    } else if (conventions != "GeneralTF") {
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
        const std::vector<std::string> dims = dimensionNames(nc, var);
        if (dims != std::vector<std::string>{"M", "R", "N"})
            return refuse(name, "dimensions " + joined(dims) + ", expected [M, R, N]");
        (name[5] == 'R' ? realVar : imagVar) = var;
    }
    if (m == 0 || r == 0 || n == 0) return refuse("Data.Real", "empty");
    if (options.measurement < 0 || static_cast<size_t>(options.measurement) > m)
        return refuse("M", "measurement " + std::to_string(options.measurement) + " asked for, the file holds " +
                                std::to_string(m));

    // Frequencies.
    int nVar;
    if (nc_inq_varid(nc, "N", &nVar) != NC_NOERR) return refuse("N", "missing");
    if (!textAttribute(nc, nVar, "Units", text) || (lower(text) != "hertz" && lower(text) != "hz"))
        return refuse("N:Units", "'" + text + "', expected 'hertz'");
    std::vector<double> f(n);
    nc_get_var_double(nc, nVar, f.data());
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

    // Receiver positions.
    int posVar;
    if (nc_inq_varid(nc, "ReceiverPosition", &posVar) != NC_NOERR) return refuse("ReceiverPosition", "missing");
    const std::vector<std::string> posDims = dimensionNames(nc, posVar);
    const bool perMeasurement = posDims == std::vector<std::string>{"R", "C", "M"};
    if (!(perMeasurement || posDims == std::vector<std::string>{"R", "C", "I"}) || dimensionLength(nc, "C") != 3)
        return refuse("ReceiverPosition", "dimensions " + joined(posDims) + ", expected [R, C, I] or [R, C, M] with C = 3");
    std::string type, units;
    textAttribute(nc, posVar, "Type", type);
    textAttribute(nc, posVar, "Units", units);
    const bool spherical = lower(type) == "spherical";
    if (!spherical && lower(type) != "cartesian")
        return refuse("ReceiverPosition:Type", "'" + type + "', expected 'spherical' or 'cartesian'");
    const std::vector<std::string> u = unitTokens(units);
    const bool unitsOk = spherical ? (u.size() == 3 && isDegree(u[0]) && isDegree(u[1]) && isMetre(u[2]))
                                   : ((u.size() == 1 || u.size() == 3) &&
                                      std::all_of(u.begin(), u.end(), isMetre));
    if (!unitsOk)
        return refuse("ReceiverPosition:Units",
                      "'" + units + "', expected " + (spherical ? "'degree, degree, metre'" : "'metre'"));
    const size_t posM = perMeasurement ? m : 1;
    std::vector<double> pos(r * 3 * posM);
    nc_get_var_double(nc, posVar, pos.data());
    std::vector<double> radius(r);
    for (size_t i = 0; i < r; ++i) {
        auto at = [&](size_t c, size_t k) { return pos[(i * 3 + c) * posM + k]; };
        for (size_t k = 1; k < posM; ++k)
            for (size_t c = 0; c < 3; ++c)
                if (std::fabs(at(c, k) - at(c, 0)) > kSamePositionM)
                    return refuse("ReceiverPosition", "receiver " + std::to_string(i + 1) +
                                                          " moves between measurements; directions must be the same in all");
        Direction d;
        if (spherical) {
            const double az = at(0, 0) * kDegToRad, el = at(1, 0) * kDegToRad;
            radius[i] = at(2, 0);
            d = {radius[i] * std::cos(el) * std::cos(az), radius[i] * std::cos(el) * std::sin(az), radius[i] * std::sin(el)};
        } else {
            d = {at(0, 0), at(1, 0), at(2, 0)};
            radius[i] = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        }
        if (!std::isfinite(radius[i]) || !(radius[i] > 0) || !std::isfinite(d.x + d.y + d.z))
            return refuse("ReceiverPosition", "receiver " + std::to_string(i + 1) + " has no finite distance from the source");
        out.directions.push_back({d.x / radius[i], d.y / radius[i], d.z / radius[i]});
    }

    // Pressures, one receiver at a time, reduced to band energies at 1 m.
    std::vector<double> re(m * n), im(m * n);
    const double scale2 = options.pascalPerUnit * options.pascalPerUnit;
    for (size_t i = 0; i < r; ++i) {
        const size_t start[3] = {0, i, 0}, count[3] = {m, 1, n};
        if (nc_get_vara_double(nc, realVar, start, count, re.data()) != NC_NOERR)
            return refuse("Data.Real", "cannot be read as numbers");
        if (nc_get_vara_double(nc, imagVar, start, count, im.data()) != NC_NOERR)
            return refuse("Data.Imag", "cannot be read as numbers");
        std::vector<double> power(n, 0.0);
        for (size_t k = 0; k < n; ++k) {
            double sr = 0, si = 0;
            for (size_t j = 0; j < m; ++j) {
                const double a = re[j * n + k], b = im[j * n + k];
                if (!std::isfinite(a) || !std::isfinite(b))
                    return refuse(std::isfinite(a) ? "Data.Imag" : "Data.Real",
                                  "value at M " + std::to_string(j + 1) + ", R " + std::to_string(i + 1) + ", N " +
                                      std::to_string(k + 1) + " is not finite");
                if (options.measurement != 0 && j + 1 != static_cast<size_t>(options.measurement)) continue;
                if (options.sum == MeasurementSum::Power) power[k] += a * a + b * b;
                sr += a, si += b;
            }
            if (options.sum == MeasurementSum::Complex || options.measurement != 0) power[k] = sr * sr + si * si;
        }
        BandEnergies e{};
        for (int band = 0; band < acoustics::kBandCount; ++band) {
            double sum = 0, width = 0;
            for (const auto& [bin, w] : weights[band]) sum += w * power[bin], width += w;
            e[band] = sum / width * scale2 * radius[i] * radius[i];  // inverse distance law to 1 m
        }
        out.energies.push_back(e);
    }
    return out;
}

}  // namespace balloon
