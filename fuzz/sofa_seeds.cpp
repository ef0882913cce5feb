// Writes the seed files of the SOFA reader's fuzz target: one small file of
// every layout the importer accepts, in the classic and the HDF5-based
// netCDF formats, and with --regressions one crafted file of every class
// the importer once mishandled. `sofa_seeds [--regressions] <dir>` writes
// them into dir; the files kept in fuzz/corpus/sofa and
// fuzz/regressions/sofa were made by it (HDF5 stamps its files, so the
// bytes of a new run differ from the kept ones while the content is the
// same).
#include <netcdf.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

struct Layout {
    const char* name;
    int format;                   // NC_NETCDF4 (| NC_CLASSIC_MODEL), NC_64BIT_OFFSET, NC_64BIT_DATA or 0 (classic)
    const char* conventions;      // FreeFieldDirectivityTF or GeneralTF
    const char* version;
    int directions;               // receivers, or measurements in GeneralTF
    int measurements;             // FreeFieldDirectivityTF: drivers
    bool cartesian;
    bool narrowBins;              // else the 21 band centres
    bool positionsPerMeasurement; // ReceiverPosition [R, C, M]
    bool viewAndUp;               // SourceView spherical, SourceUp
    bool stringAttributes;        // NC_STRING rather than NC_CHAR (netCDF-4 only)
    // Crafted files, each of a class the importer once mishandled; the
    // variables a crafted shape affects are declared and left unwritten.
    size_t iLength = 1;           // the singleton I
    bool sourcePositionOverI = false;     // GeneralTF's SourcePosition [I, C]
    bool frequenciesPerReceiver = false;  // N (R, N)
    size_t declaredM = 0, declaredN = 0;  // M and N declared this long, data unwritten
    double amplitude = 1.0;               // 1e160 squares past the range of a double
};

const Layout kLayouts[] = {
    {"ffdtf-1.1-spherical-centres.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1", 64, 1, false, false, false, false, false},
    {"ffdtf-1.0-cartesian-bins.nc3", 0, "FreeFieldDirectivityTF", "1.0", 8, 1, true, true, false, false, false},
    {"ffdtf-1.1-three-drivers-per-m.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1", 24, 3, false, false, true, false, false},
    {"ffdtf-1.1-view-up.nc3", 0, "FreeFieldDirectivityTF", "1.1", 64, 2, false, false, false, true, false},
    {"ffdtf-1.1-string-attributes.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1", 16, 1, false, false, false, false, true},
    {"generaltf-2.0-spherical-centres.nc4", NC_NETCDF4, "GeneralTF", "2.0", 64, 1, false, false, false, false, false},
    {"generaltf-1.0-cartesian-view-up.nc3", 0, "GeneralTF", "1.0", 32, 1, true, false, false, true, false},
    {"generaltf-2.0-bins-classic-model.nc4", NC_NETCDF4 | NC_CLASSIC_MODEL, "GeneralTF", "2.0", 6, 1, false, true, false, false, false},
    // The same layouts in the classic formats, which the fuzz target mutates.
    {"ffdtf-1.1-spherical-centres-64-bit-offset.nc3", NC_64BIT_OFFSET, "FreeFieldDirectivityTF", "1.1", 64, 1, false, false, false, false, false},
    {"ffdtf-1.1-three-drivers-per-m-64-bit-data.nc3", NC_64BIT_DATA, "FreeFieldDirectivityTF", "1.1", 24, 3, false, false, true, false, false},
    {"generaltf-2.0-spherical-centres.nc3", 0, "GeneralTF", "2.0", 64, 1, false, false, false, false, false},
    {"generaltf-2.0-bins.nc3", 0, "GeneralTF", "2.0", 6, 1, false, true, false, false, false},
};

Layout crafted(const char* name, int format, const char* conventions, const char* version) {
    return {name, format, conventions, version, 16, 1, false, false, false, false, false};
}

std::vector<Layout> regressionLayouts() {
    std::vector<Layout> v;
    Layout l = crafted("receiver-position-over-i-2.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1");
    l.iLength = 2;
    v.push_back(l);
    l = crafted("source-view-over-i-200.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1");
    l.iLength = 200, l.viewAndUp = true;
    v.push_back(l);
    l = crafted("generaltf-source-position-over-i-2.nc4", NC_NETCDF4, "GeneralTF", "2.0");
    l.iLength = 2, l.sourcePositionOverI = true;
    v.push_back(l);
    l = crafted("frequencies-per-receiver.nc3", 0, "FreeFieldDirectivityTF", "1.1");
    l.frequenciesPerReceiver = true;
    v.push_back(l);
    l = crafted("m-times-n-wraps-size-t.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1");
    l.directions = 1, l.declaredM = size_t(878416384462359601ull);
    v.push_back(l);
    l = crafted("n-2-to-the-40-chunked.nc4", NC_NETCDF4, "FreeFieldDirectivityTF", "1.1");
    l.directions = 1, l.declaredN = size_t(1) << 40;
    v.push_back(l);
    l = crafted("amplitudes-1e160.nc3", 0, "FreeFieldDirectivityTF", "1.1");
    l.amplitude = 1e160;
    v.push_back(l);
    return v;
}

bool text(int nc, int var, const char* name, const std::string& value, bool asString) {
    if (asString) {
        const char* v = value.c_str();
        return nc_put_att_string(nc, var, name, 1, &v) == NC_NOERR;
    }
    return nc_put_att_text(nc, var, name, value.size(), value.c_str()) == NC_NOERR;
}

std::vector<double> frequencies(bool narrowBins) {
    std::vector<double> f;
    if (narrowBins) {  // four bins per third octave, from below 100 Hz to above 10 kHz
        for (int k = -45; k <= 45; ++k) f.push_back(1000.0 * std::pow(10.0, k / 40.0));
    } else {
        for (int k = -10; k <= 10; ++k) f.push_back(std::round(1000.0 * std::pow(10.0, k / 10.0)));
    }
    return f;
}

bool write(const std::string& path, const Layout& l) {
    int nc;
    if (nc_create(path.c_str(), NC_CLOBBER | l.format, &nc) != NC_NOERR) return false;
    const bool s = l.stringAttributes, general = std::string(l.conventions) == "GeneralTF";
    text(nc, NC_GLOBAL, "Conventions", "SOFA", s);
    text(nc, NC_GLOBAL, "SOFAConventions", l.conventions, s);
    text(nc, NC_GLOBAL, "SOFAConventionsVersion", l.version, s);
    text(nc, NC_GLOBAL, "DataType", "TF", s);
    const std::vector<double> f = frequencies(l.narrowBins);
    const size_t m = general ? l.directions : l.measurements, r = general ? 1 : l.directions, n = f.size();
    int dm, dr, dn, dc, di;
    nc_def_dim(nc, "M", l.declaredM ? l.declaredM : m, &dm);
    nc_def_dim(nc, "R", r, &dr);
    nc_def_dim(nc, "N", l.declaredN ? l.declaredN : n, &dn);
    nc_def_dim(nc, "C", 3, &dc);
    nc_def_dim(nc, "I", l.iLength, &di);
    const int dataDims[3] = {dm, dr, dn};
    int re, im, fv, pv, sv = -1, uv = -1;
    nc_def_var(nc, "Data.Real", NC_DOUBLE, 3, dataDims, &re);
    nc_def_var(nc, "Data.Imag", NC_DOUBLE, 3, dataDims, &im);
    const int perReceiver[2] = {dr, dn};
    nc_def_var(nc, "N", NC_DOUBLE, l.frequenciesPerReceiver ? 2 : 1, l.frequenciesPerReceiver ? perReceiver : &dn, &fv);
    text(nc, fv, "Units", "hertz", s);
    if (general) {
        const int dims[2] = {l.sourcePositionOverI ? di : dm, dc};
        nc_def_var(nc, "SourcePosition", NC_DOUBLE, 2, dims, &pv);
    } else {
        const int dims[3] = {dr, dc, l.positionsPerMeasurement ? dm : di};
        nc_def_var(nc, "ReceiverPosition", NC_DOUBLE, 3, dims, &pv);
    }
    text(nc, pv, "Type", l.cartesian ? "cartesian" : "spherical", s);
    text(nc, pv, "Units", l.cartesian ? "metre" : "degree, degree, metre", s);
    if (l.viewAndUp) {
        const int dims[2] = {di, dc};
        nc_def_var(nc, "SourceView", NC_DOUBLE, 2, dims, &sv);
        nc_def_var(nc, "SourceUp", NC_DOUBLE, 2, dims, &uv);
        text(nc, sv, "Type", "spherical", s);
        text(nc, sv, "Units", "degree, degree, metre", s);
    }
    if (nc_enddef(nc) != NC_NOERR) return false;
    // Declared past what is written: the reader must refuse before reading.
    if (l.declaredM || l.declaredN) return nc_close(nc) == NC_NOERR;
    const bool writeOverI = l.iLength == 1;  // else the variables over I stay unwritten

    // Directions on a golden-angle spiral, 2 m away; a beam along +x.
    const size_t perM = l.positionsPerMeasurement ? m : 1;
    std::vector<double> position, real, imag;
    std::vector<std::vector<double>> unit;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < l.directions; ++i) {
        const double z = 1.0 - (i + 0.5) * 2.0 / l.directions, rho = std::sqrt(1.0 - z * z);
        unit.push_back({rho * std::cos(golden * i), rho * std::sin(golden * i), z});
    }
    for (int i = 0; i < l.directions; ++i)
        for (int c = 0; c < 3; ++c)
            for (size_t k = 0; k < (general ? 1 : perM); ++k) {
                const std::vector<double>& u = unit[i];
                const double az = std::atan2(u[1], u[0]) * 180 / kPi, el = std::asin(u[2]) * 180 / kPi;
                position.push_back(l.cartesian ? 2.0 * u[c] : (c == 0 ? az : c == 1 ? el : 2.0));
            }
    for (size_t j = 0; j < m; ++j)
        for (size_t i = 0; i < r; ++i)
            for (size_t k = 0; k < n; ++k) {
                const std::vector<double>& u = unit[general ? j : i];
                const double amplitude = l.amplitude * (1.2 + u[0]) / (1.0 + j) * std::sqrt(1000.0 / f[k]);
                real.push_back(amplitude * std::cos(f[k] * 1e-3 + j));
                imag.push_back(amplitude * std::sin(f[k] * 1e-3 + j));
            }
    std::vector<double> frequencyValues;
    for (size_t i = 0; i < (l.frequenciesPerReceiver ? r : 1); ++i) frequencyValues.insert(frequencyValues.end(), f.begin(), f.end());
    bool ok = nc_put_var_double(nc, re, real.data()) == NC_NOERR && nc_put_var_double(nc, im, imag.data()) == NC_NOERR &&
              nc_put_var_double(nc, fv, frequencyValues.data()) == NC_NOERR &&
              (!writeOverI || nc_put_var_double(nc, pv, position.data()) == NC_NOERR);
    if (l.viewAndUp && writeOverI) {
        const double view[3] = {10, 5, 1}, up[3] = {0, 90, 1};  // turned 10 degrees left, tipped 5 up
        ok = ok && nc_put_var_double(nc, sv, view) == NC_NOERR && nc_put_var_double(nc, uv, up) == NC_NOERR;
    }
    return nc_close(nc) == NC_NOERR && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool regressions = argc == 3 && std::string(argv[1]) == "--regressions";
    if (argc != 2 && !regressions) {
        std::fprintf(stderr, "usage: sofa_seeds [--regressions] <out dir>\n");
        return 2;
    }
    const std::vector<Layout> layouts =
        regressions ? regressionLayouts() : std::vector<Layout>(std::begin(kLayouts), std::end(kLayouts));
    for (const Layout& layout : layouts) {
        const std::string path = std::string(argv[argc - 1]) + "/" + layout.name;
        if (!write(path, layout)) {
            std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
