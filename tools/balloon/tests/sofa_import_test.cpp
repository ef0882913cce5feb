// The SOFA reader against files written here through the netCDF library:
// what it accepts gives the same energies however it is spelled, and every
// fault is refused with the variable or attribute named.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "acoustics/balloon_grid.h"
#include "tools/balloon/balloon_io.h"
#include "tools/balloon/sofa_reader.h"
#include "tools/balloon/sphere_resample.h"
#include "tools/host/plugin_library.h"
#include "tools/host/sha256.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct Receiver {
    double azimuthDeg, elevationDeg, radiusM;
};

// Everything a fixture file holds; each refusal case breaks one thing.
struct Fixture {
    std::string conventions = "SOFA";
    std::string sofaConventions = "FreeFieldDirectivityTF";
    std::string version = "1.1";
    std::string dataType = "TF";
    std::string frequencyUnits = "hertz";
    std::string dataUnits;  // Data.Real's Units, written when not empty
    std::vector<std::pair<std::string, std::string>> globals;  // further global attributes
    std::string positionType = "spherical";
    std::string positionUnits = "degree, degree, metre";
    bool cartesian = false;
    bool writeImag = true;
    bool swapDataDims = false;        // [R, M, N] instead of [M, R, N]
    bool positionsPerMeasurement = false;
    bool moveInSecondMeasurement = false;
    bool positionWithoutListener = false;  // ReceiverPosition [R, C]
    int measurements = 1;                  // FreeFieldDirectivityTF; GeneralTF has one per receiver below
    int generalReceivers = 1;
    bool writeSourcePosition = true;       // GeneralTF's directions
    // SourceView and SourceUp, written when not empty, with their Type and
    // Units; the directions are then written as axes[0..2] (the source's
    // +x, +y, +z in the file's frame) times the source-frame direction.
    std::vector<double> view, up, secondView;
    std::string viewType = "cartesian", viewUnits = "metre";
    bool rotate = false;
    double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    bool truncateToHalf = false;
    // Shapes of crafted files. Variables a crafted shape affects are declared
    // and left unwritten (the reader must refuse them before reading).
    size_t iLength = 1;                 // the singleton I
    bool sourcePositionOverI = false;   // GeneralTF's SourcePosition[I, C]
    bool frequenciesPerReceiver = false;  // N(R, N)
    size_t declaredM = 0, declaredN = 0;  // M and N declared this long (0: as the data)
    bool writeFrequenciesOnly = false;    // with M or N declared: N's values written, nothing else
    std::vector<double> frequencies;
    std::vector<Receiver> receivers;
    std::function<std::complex<double>(int m, const Receiver&, double hz)> pressure =
        [](int, const Receiver&, double) { return std::complex<double>(1.0, 0.0); };
};

// A whole file as text; empty when it cannot be read.
std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<double> bandCentres() {
    std::vector<double> f;
    for (int band = 0; band < acoustics::kBandCount; ++band) f.push_back(acoustics::bandCentreHz(band));
    return f;
}

std::vector<Receiver> spiralReceivers(int count, double radiusM) {
    std::vector<Receiver> r;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - (i + 0.5) * 2.0 / count;
        r.push_back({std::fmod(golden * i * 180 / kPi, 360.0), std::asin(z) * 180 / kPi, radiusM});
    }
    return r;
}

class SofaImport : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = ::testing::TempDir() + "sofa_import_XXXXXX";
        ASSERT_NE(mkdtemp(base.data()), nullptr);
        dir_ = base;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    static void putText(int nc, int var, const char* name, const std::string& value) {
        nc_put_att_text(nc, var, name, value.size(), value.c_str());
    }

    std::string write(const Fixture& fx, const std::string& name = "test.sofa") {
        const std::string path = dir_ + "/" + name;
        int nc;
        EXPECT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), NC_NOERR);
        putText(nc, NC_GLOBAL, "Conventions", fx.conventions);
        putText(nc, NC_GLOBAL, "SOFAConventions", fx.sofaConventions);
        putText(nc, NC_GLOBAL, "SOFAConventionsVersion", fx.version);
        putText(nc, NC_GLOBAL, "DataType", fx.dataType);
        for (const auto& [name, value] : fx.globals) putText(nc, NC_GLOBAL, name.c_str(), value);
        // GeneralTF: one measurement per direction, the direction in
        // SourcePosition; FreeFieldDirectivityTF: one receiver per direction.
        const bool general = fx.sofaConventions == "GeneralTF";
        const size_t m = general ? fx.receivers.size() : fx.measurements,
                     r = general ? fx.generalReceivers : fx.receivers.size(), n = fx.frequencies.size();
        int dm, dr, dn, dc, di;
        const bool hugeDims = fx.declaredM != 0 || fx.declaredN != 0;
        const bool skipOverI = fx.iLength != 1;  // the variables over I are left unwritten
        nc_def_dim(nc, "M", fx.declaredM != 0 ? fx.declaredM : m, &dm);
        nc_def_dim(nc, "R", r, &dr);
        nc_def_dim(nc, "N", fx.declaredN != 0 ? fx.declaredN : n, &dn);
        nc_def_dim(nc, "C", 3, &dc);
        nc_def_dim(nc, "I", fx.iLength, &di);
        const int dataDims[3] = {fx.swapDataDims ? dr : dm, fx.swapDataDims ? dm : dr, dn};
        int re, im = -1, fv, pv = -1;  // pv stays -1 where no source or receiver position is written
        nc_def_var(nc, "Data.Real", NC_DOUBLE, 3, dataDims, &re);
        if (fx.writeImag) nc_def_var(nc, "Data.Imag", NC_DOUBLE, 3, dataDims, &im);
        if (!fx.dataUnits.empty()) putText(nc, re, "Units", fx.dataUnits);
        const int frequencyDims[2] = {dr, dn};
        if (fx.frequenciesPerReceiver) nc_def_var(nc, "N", NC_DOUBLE, 2, frequencyDims, &fv);
        else nc_def_var(nc, "N", NC_DOUBLE, 1, &dn, &fv);
        if (!fx.frequencyUnits.empty()) putText(nc, fv, "Units", fx.frequencyUnits);
        const int posDims[3] = {dr, dc, fx.positionsPerMeasurement ? dm : di};
        const int sourceDims[2] = {fx.sourcePositionOverI ? di : dm, dc}, fixedReceiverDims[3] = {dr, dc, di}, viewDims[2] = {fx.secondView.empty() ? di : dm, dc};
        int sv = -1, uv = -1, rv = -1;
        if (!general) {
            nc_def_var(nc, "ReceiverPosition", NC_DOUBLE, fx.positionWithoutListener ? 2 : 3, posDims, &pv);
        } else {
            nc_def_var(nc, "ReceiverPosition", NC_DOUBLE, 3, fixedReceiverDims, &rv);
            putText(nc, rv, "Type", "cartesian");
            putText(nc, rv, "Units", "metre");
            if (fx.writeSourcePosition) nc_def_var(nc, "SourcePosition", NC_DOUBLE, 2, sourceDims, &pv);
        }
        if (pv >= 0) {
            putText(nc, pv, "Type", fx.positionType);
            putText(nc, pv, "Units", fx.positionUnits);
        }
        if (!fx.view.empty()) {
            nc_def_var(nc, "SourceView", NC_DOUBLE, 2, viewDims, &sv);
            putText(nc, sv, "Type", fx.viewType);
            putText(nc, sv, "Units", fx.viewUnits);
        }
        if (!fx.up.empty()) nc_def_var(nc, "SourceUp", NC_DOUBLE, 2, viewDims, &uv);
        nc_enddef(nc);
        if (hugeDims) {
            if (fx.writeFrequenciesOnly) nc_put_var_double(nc, fv, fx.frequencies.data());
            EXPECT_EQ(nc_close(nc), NC_NOERR);
            return path;
        }
        if (skipOverI) sv = uv = rv = pv = -1;
        if (sv >= 0) {
            std::vector<double> v = fx.view;
            if (!fx.secondView.empty()) v.insert(v.end(), fx.secondView.begin(), fx.secondView.end());
            nc_put_var_double(nc, sv, v.data());
        }
        if (uv >= 0) {
            std::vector<double> u = fx.up;
            if (!fx.secondView.empty()) u.insert(u.end(), fx.up.begin(), fx.up.end());
            nc_put_var_double(nc, uv, u.data());
        }
        if (rv >= 0) nc_put_var_double(nc, rv, std::vector<double>(r * 3, 0.0).data());

        std::vector<double> real(m * r * n), imag(m * r * n);
        for (size_t j = 0; j < m; ++j)
            for (size_t i = 0; i < r; ++i)
                for (size_t k = 0; k < n; ++k) {
                    const std::complex<double> p =
                        general ? fx.pressure(0, fx.receivers[j], fx.frequencies[k])
                                : fx.pressure(static_cast<int>(j), fx.receivers[i], fx.frequencies[k]);
                    real[(j * r + i) * n + k] = p.real();
                    imag[(j * r + i) * n + k] = p.imag();
                }
        nc_put_var_double(nc, re, real.data());
        if (fx.writeImag) nc_put_var_double(nc, im, imag.data());
        if (fx.frequenciesPerReceiver) {
            std::vector<double> perReceiver;
            for (size_t i = 0; i < r; ++i) perReceiver.insert(perReceiver.end(), fx.frequencies.begin(), fx.frequencies.end());
            nc_put_var_double(nc, fv, perReceiver.data());
        } else {
            nc_put_var_double(nc, fv, fx.frequencies.data());
        }
        const size_t pm = fx.positionsPerMeasurement && !general ? m : 1;
        std::vector<double> pos(fx.receivers.size() * 3 * pm);
        for (size_t i = 0; i < fx.receivers.size(); ++i)
            for (size_t k = 0; k < pm; ++k) {
                Receiver q = fx.receivers[i];
                if (fx.rotate) {
                    const double az = q.azimuthDeg * kPi / 180, el = q.elevationDeg * kPi / 180;
                    const double d[3] = {std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)};
                    double w[3];
                    for (int c = 0; c < 3; ++c)
                        w[c] = d[0] * fx.axes[0][c] + d[1] * fx.axes[1][c] + d[2] * fx.axes[2][c];
                    q.azimuthDeg = std::atan2(w[1], w[0]) * 180 / kPi;
                    q.elevationDeg = std::asin(std::clamp(w[2], -1.0, 1.0)) * 180 / kPi;
                }
                double v[3] = {q.azimuthDeg + (fx.moveInSecondMeasurement && k == 1 ? 5.0 : 0.0), q.elevationDeg,
                               q.radiusM};
                if (fx.cartesian) {
                    const double az = v[0] * kPi / 180, el = v[1] * kPi / 180;
                    v[0] = q.radiusM * std::cos(el) * std::cos(az);
                    v[1] = q.radiusM * std::cos(el) * std::sin(az);
                    v[2] = q.radiusM * std::sin(el);
                }
                for (size_t c = 0; c < 3; ++c) pos[general ? i * 3 + c : (i * 3 + c) * pm + k] = v[c];
            }
        if (pv >= 0) nc_put_var_double(nc, pv, pos.data());
        EXPECT_EQ(nc_close(nc), NC_NOERR);
        if (fx.truncateToHalf) {
            EXPECT_EQ(truncate(path.c_str(), std::filesystem::file_size(path) / 2), 0);
        }
        return path;
    }

    // A narrow lobe toward SOFA azimuth +30 degrees, elevation 0, four times
    // the pressure of the rest.
    static Fixture lobeAtAzimuth30() {
        Fixture fx = basic();
    fx.receivers = spiralReceivers(1500, 1.0);
    fx.pressure = [](int, const Receiver& r, double) {
        const double az = r.azimuthDeg * kPi / 180, el = r.elevationDeg * kPi / 180;
        const double lobe = std::cos(el) * std::cos(az - 30 * kPi / 180);
        const double x = std::cos(el) * std::cos(az);
        return std::complex<double>(std::max(x, 0.2) + 4 * std::pow(std::max(lobe, 0.0), 40), 0.0);
    };
        return fx;
    }

    static Fixture basic() {
        Fixture fx;
        fx.frequencies = bandCentres();
        fx.receivers = spiralReceivers(600, 2.0);
        return fx;
    }

    std::string dir_;
};

// Files whose variables declare shapes the layouts do not have, or sizes no
// measurement reaches: each is refused, naming the variable, before anything
// is read past what the variable holds or allocated for what it claims.
TEST_F(SofaImport, VariablesOfAnotherShapeOrTooLargeAreRefusedBeforeTheyAreRead) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> craft;
        std::string where;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"ReceiverPosition[R, C, I] with I = 2", [](Fixture& f) { f.iLength = 2; }, "ReceiverPosition",
         "dimension I is 2, expected 1"},
        {"SourceView[I, C] with I = 200",
         [](Fixture& f) {
             f.iLength = 200;
             f.view = {1, 0, 0};
         },
         "SourceView", "dimension I is 200, expected 1"},
        {"GeneralTF SourcePosition[I, C] with I = 2",
         [](Fixture& f) {
             f.sofaConventions = "GeneralTF";
             f.version = "2.0";
             f.receivers = spiralReceivers(200, 2.0);
             f.iLength = 2;
             f.sourcePositionOverI = true;
         },
         "SourcePosition", "dimension I is 2, expected 1"},
        {"frequencies per receiver, N(R, N)", [](Fixture& f) { f.frequenciesPerReceiver = true; }, "N",
         "dimensions [R, N], expected [N]"},
        {"M x N past every cap, a product that wraps a 64-bit size",
         [](Fixture& f) {
             f.receivers = spiralReceivers(1, 2.0);
             f.declaredM = size_t(878416384462359601ull);
         },
         "Data.Real", "declares M = 878416384462359601 x N = 21"},
        {"more directions than the import takes, in a small chunked file",
         [](Fixture& f) {
             f.sofaConventions = "GeneralTF", f.version = "2.0";
             f.receivers = spiralReceivers(1, 2.0);
             f.declaredM = balloon::kMaxDirections + 1;
             f.writeFrequenciesOnly = true;
         },
         "SourcePosition", "1048577 directions; the import takes at most 1048576"},
        {"N = 2^40 in a small chunked file",
         [](Fixture& f) {
             f.receivers = spiralReceivers(1, 2.0);
             f.declaredN = size_t(1) << 40;
         },
         "Data.Real", "declares M = 1 x N = 1099511627776"},
    };
    for (const Case& c : cases) {
        Fixture fx = basic();
        c.craft(fx);
        const std::string path = write(fx, "crafted.sofa");
        const balloon::SofaDirectivity read = balloon::readSofaDirectivity(path, {});
        EXPECT_EQ(read.error.rfind(path + ": " + c.where + ": ", 0), 0u) << c.name << ": " << read.error;
        EXPECT_NE(read.error.find(c.reason), std::string::npos) << c.name << ": " << read.error;
        EXPECT_TRUE(read.directions.empty()) << c.name;
    }
}

TEST_F(SofaImport, EveryFaultIsRefusedWithTheVariableOrAttributeNamed) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> breakIt;
        std::string where;  // the variable or attribute the message names
        balloon::SofaOptions options = {};
        std::string reason = "";  // and what it says, where that matters
    };
    const std::vector<Case> cases = {
        {"not SOFA", [](Fixture& f) { f.conventions = "CF-1.0"; }, "GLOBAL:Conventions"},
        {"other conventions", [](Fixture& f) { f.sofaConventions = "SimpleFreeFieldHRIR"; }, "GLOBAL:SOFAConventions"},
        {"old version", [](Fixture& f) { f.version = "0.2"; }, "GLOBAL:SOFAConventionsVersion"},
        {"impulse responses", [](Fixture& f) { f.dataType = "FIR"; }, "GLOBAL:DataType"},
        {"no imaginary part", [](Fixture& f) { f.writeImag = false; }, "Data.Imag"},
        {"data dimensions", [](Fixture& f) { f.swapDataDims = true; f.measurements = 2; }, "Data.Real"},
        {"frequency unit", [](Fixture& f) { f.frequencyUnits = "kilohertz"; }, "N:Units"},
        {"frequency unit missing", [](Fixture& f) { f.frequencyUnits = ""; }, "N:Units", {}, "N:Units: missing"},
        {"frequencies falling",
         [](Fixture& f) { std::swap(f.frequencies[3], f.frequencies[4]); }, "N"},
        {"a negative frequency", [](Fixture& f) { f.frequencies.insert(f.frequencies.begin(), -50.0); }, "N", {},
         "not negative and rising (value 1)"},
        {"a negative radius", [](Fixture& f) { f.receivers[5].radiusM = -2.0; }, "ReceiverPosition", {},
         "row 6: radius -2 m; a spherical position's radius is not negative"},
        {"band without a bin",
         [](Fixture& f) {
             f.frequencies.clear();
             for (double hz = 20; hz < 20000; hz += 200) f.frequencies.push_back(hz);
         },
         "N"},
        {"band-centre values missing a band", [](Fixture& f) { f.frequencies.erase(f.frequencies.begin() + 7); }, "N"},
        {"position type", [](Fixture& f) { f.positionType = "cylindrical"; }, "ReceiverPosition:Type"},
        {"position units", [](Fixture& f) { f.positionUnits = "radian, radian, metre"; }, "ReceiverPosition:Units"},
        {"cartesian in feet",
         [](Fixture& f) { f.cartesian = true; f.positionType = "cartesian"; f.positionUnits = "feet"; },
         "ReceiverPosition:Units"},
        {"receiver at the source", [](Fixture& f) { f.receivers[9].radiusM = 0.0; }, "ReceiverPosition"},
        {"receiver moves",
         [](Fixture& f) { f.measurements = 2; f.positionsPerMeasurement = true; f.moveInSecondMeasurement = true; },
         "ReceiverPosition"},
        {"front hemisphere only",
         [](Fixture& f) {
             std::vector<Receiver> front;
             for (const Receiver& r : f.receivers)
                 if (std::cos(r.azimuthDeg * kPi / 180) * std::cos(r.elevationDeg * kPi / 180) > 0.1) front.push_back(r);
             f.receivers = front;
         },
         "ReceiverPosition"},
        {"value not finite",
         [](Fixture& f) {
             f.pressure = [](int, const Receiver& r, double hz) {
                 return std::complex<double>(r.azimuthDeg == 0 && hz == 1000 ? NAN : 1.0, 0.0);
             };
             f.receivers[0].azimuthDeg = 0;
         },
         "Data.Real"},
        {"silent on axis",
         [](Fixture& f) {
             f.pressure = [](int, const Receiver& r, double) {
                 const double x = std::cos(r.azimuthDeg * kPi / 180) * std::cos(r.elevationDeg * kPi / 180);
                 return std::complex<double>(x > 0.9 ? 0.0 : 1.0, 0.0);
             };
         },
         "ReceiverPosition"},
        {"measurement out of range", [](Fixture&) {}, "M", {3, balloon::MeasurementSum::Complex, 1.0}},
        {"GeneralTF version", [](Fixture& f) { f.sofaConventions = "GeneralTF"; }, "GLOBAL:SOFAConventionsVersion"},
        {"GeneralTF without SourcePosition",
         [](Fixture& f) { f.sofaConventions = "GeneralTF", f.version = "2.0", f.writeSourcePosition = false; },
         "SourcePosition"},
        {"GeneralTF with two receivers",
         [](Fixture& f) { f.sofaConventions = "GeneralTF", f.version = "1.0", f.generalReceivers = 2; }, "R"},
        {"GeneralTF with a measurement chosen", [](Fixture& f) { f.sofaConventions = "GeneralTF", f.version = "2.0"; },
         "M", {1, balloon::MeasurementSum::Complex, 1.0}},
        {"GeneralTF with a power sum asked", [](Fixture& f) { f.sofaConventions = "GeneralTF", f.version = "2.0"; },
         "M", {0, balloon::MeasurementSum::Power, 1.0, true}},
        {"GeneralTF direction at the source",
         [](Fixture& f) { f.sofaConventions = "GeneralTF", f.version = "2.0", f.receivers[4].radiusM = 0; },
         "SourcePosition"},
        {"value infinite",
         [](Fixture& f) {
             f.pressure = [](int, const Receiver& r, double hz) {
                 return std::complex<double>(1.0, r.elevationDeg < -80 && hz == 250 ? INFINITY : 0.0);
             };
         },
         "Data.Imag"},
        {"silent in the on-axis direction only",
         [](Fixture& f) {
             f.receivers[0] = {0, 0, 2};
             f.pressure = [](int, const Receiver& r, double) {
                 return std::complex<double>(r.azimuthDeg == 0 && r.elevationDeg == 0 ? 0.0 : 1.0, 0.0);
             };
         },
         "ReceiverPosition"},
        {"bins end inside the top band",
         [](Fixture& f) {
             f.frequencies.clear();
             for (double hz = 20; hz <= 9500; hz += 10) f.frequencies.push_back(hz);
         },
         "N"},
        {"truncated file", [](Fixture& f) { f.truncateToHalf = true; }, "file"},
        {"zero view", [](Fixture& f) { f.view = {0, 0, 0}; }, "SourceView"},
        {"up along the view", [](Fixture& f) { f.view = {0, 1, 0}, f.up = {0, -3, 0}; }, "SourceUp"},
        {"view turning between measurements",
         [](Fixture& f) { f.measurements = 2, f.view = {1, 0, 0}, f.up = {0, 0, 1}, f.secondView = {0, 1, 0}; },
         "SourceView"},
        {"spherical view in radians",
         [](Fixture& f) { f.view = {1.5, 0, 1}, f.viewType = "spherical", f.viewUnits = "radian, radian, metre"; },
         "SourceView:Units"},
    };
    for (const Case& c : cases) {
        Fixture fx = basic();
        c.breakIt(fx);
        const std::string path = write(fx);
        const balloon::SofaDirectivity read = balloon::readSofaDirectivity(path, c.options);
        std::string error = read.error;
        if (error.empty()) {
            const balloon::ResampleResult r = balloon::resampleToGrid(read.directions, read.energies);
            if (!r.error.empty()) error = path + ": " + read.directionVariable + ": " + r.error;
        }
        EXPECT_EQ(error.rfind(path + ": " + c.where + ": ", 0), 0u) << c.name << ": " << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(read.error.empty() || read.directions.empty()) << c.name;
    }
    // Not a netCDF file at all.
    const std::string text = dir_ + "/text.sofa";
    std::system(("echo not netcdf > '" + text + "'").c_str());
    EXPECT_EQ(balloon::readSofaDirectivity(text, {}).error.rfind(text + ": file: ", 0), 0u);
}

TEST_F(SofaImport, SpellingsFramesAndFrequencyFormsGiveTheSameEnergies) {
    // Level falls with polar angle and rises toward the left (+y).
    Fixture reference = basic();
    reference.pressure = [](int, const Receiver& r, double hz) {
        const double az = r.azimuthDeg * kPi / 180, el = r.elevationDeg * kPi / 180;
        const double x = std::cos(el) * std::cos(az), y = std::cos(el) * std::sin(az);
        return std::polar((1.5 + x + 0.3 * y) / r.radiusM, hz * 1e-3);
    };
    const balloon::SofaDirectivity expected = balloon::readSofaDirectivity(write(reference, "ref.sofa"), {});
    ASSERT_EQ(expected.error, "");
    EXPECT_TRUE(expected.bandCentreValues);
    // 1/r pressure from 2 m: at 1 m the axis holds 2.5^2 Pa^2.
    const balloon::ResampleResult resampled = balloon::resampleToGrid(expected.directions, expected.energies);
    EXPECT_NEAR(resampled.onAxisEnergy[10], 6.25, 0.05);

    std::vector<Fixture> variants(6, reference);
    variants[5].positionWithoutListener = true;
    variants[0].cartesian = true, variants[0].positionType = "cartesian", variants[0].positionUnits = "metre";
    variants[1].positionUnits = "degrees,degrees,meters";
    variants[2].sofaConventions = "GeneralTF", variants[2].version = "2.0";
    variants[3].version = "1.0", variants[3].frequencyUnits = "Hz";
    // Narrow bins, flat across each band, 5 Hz apart.
    variants[4].frequencies.clear();
    for (double hz = 0; hz <= 12000; hz += 5) variants[4].frequencies.push_back(hz);
    variants[4].pressure = [base = reference.pressure](int m, const Receiver& r, double hz) {
        int band = 0;
        while (band + 1 < acoustics::kBandCount && hz >= balloon::bandUpperEdgeHz(band)) ++band;
        return base(m, r, acoustics::bandCentreHz(band)) * std::polar(1.0, hz);
    };
    for (size_t v = 0; v < variants.size(); ++v) {
        const balloon::SofaDirectivity got = balloon::readSofaDirectivity(write(variants[v], "v.sofa"), {});
        ASSERT_EQ(got.error, "") << v;
        EXPECT_EQ(got.bandCentreValues, v != 4) << v;
        ASSERT_EQ(got.energies.size(), expected.energies.size());
        double worst = 0;
        for (size_t i = 0; i < got.energies.size(); ++i) {
            worst = std::max({worst, std::fabs(got.directions[i].x - expected.directions[i].x),
                              std::fabs(got.directions[i].y - expected.directions[i].y)});
            for (int band = 0; band < acoustics::kBandCount; ++band)
                worst = std::max(worst, std::fabs(got.energies[i][band] / expected.energies[i][band] - 1));
        }
        EXPECT_LT(worst, 1e-9) << v;
    }
}

TEST_F(SofaImport, GeneralTFAndARotatedSourceFrameGiveTheSameBalloon) {
    // Louder toward the source's left and below, so any turn of the frame shows.
    Fixture reference = basic();
    reference.pressure = [](int, const Receiver& r, double hz) {
        const double az = r.azimuthDeg * kPi / 180, el = r.elevationDeg * kPi / 180;
        const double x = std::cos(el) * std::cos(az), y = std::cos(el) * std::sin(az), z = std::sin(el);
        return std::complex<double>(1.6 + x + 0.4 * y - 0.3 * z * hz / 10000, 0.0);
    };
    auto balloonOf = [&](const Fixture& fx, const char* name) {
        const balloon::SofaDirectivity read = balloon::readSofaDirectivity(write(fx, name), {});
        EXPECT_EQ(read.error, "") << name;
        const balloon::ResampleResult r = balloon::resampleToGrid(read.directions, read.energies);
        EXPECT_EQ(r.error, "") << name;
        return r.balloon;
    };
    const balloon::Balloon expected = balloonOf(reference, "ref.sofa");

    Fixture general = reference;
    general.sofaConventions = "GeneralTF", general.version = "2.0";
    EXPECT_EQ(balloonOf(general, "general.sofa"), expected);

    // The source faces +y (view at azimuth 90), its left is then -x.
    Fixture turned = reference;
    turned.view = {90, 0, 1}, turned.viewType = "spherical", turned.viewUnits = "degree, degree, metre";
    turned.rotate = true;
    const double turnedAxes[3][3] = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};
    std::copy(&turnedAxes[0][0], &turnedAxes[0][0] + 9, &turned.axes[0][0]);
    // The source lies on its side: its up is +y, its left -z; up not at
    // right angles to the view is made so.
    Fixture onItsSide = reference;
    onItsSide.view = {2, 0, 0}, onItsSide.up = {0.5, 1, 0}, onItsSide.rotate = true;
    const double sideAxes[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    std::copy(&sideAxes[0][0], &sideAxes[0][0] + 9, &onItsSide.axes[0][0]);
    Fixture sideGeneral = onItsSide;
    sideGeneral.sofaConventions = "GeneralTF", sideGeneral.version = "1.0";
    for (const Fixture* fx : {&turned, &onItsSide, &sideGeneral}) {
        const balloon::Balloon got = balloonOf(*fx, "rotated.sofa");
        ASSERT_EQ(got.size(), expected.size());
        double worst = 0;
        for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(double(got[i]) - expected[i]));
        EXPECT_LT(worst, 0.01) << fx - &turned;
    }
}

TEST_F(SofaImport, MeasurementsAreSelectedOrSummedAsAsked) {
    // Two drivers of equal level, in phase below 1 kHz and in opposition above.
    Fixture fx = basic();
    fx.measurements = 2;
    fx.pressure = [](int m, const Receiver&, double hz) {
        return std::complex<double>(m == 1 && hz > 1000 ? -1.0 : 1.0, 0.0);
    };
    const std::string path = write(fx);
    const auto complexSum = balloon::readSofaDirectivity(path, {});
    const auto powerSum = balloon::readSofaDirectivity(path, {0, balloon::MeasurementSum::Power, 1.0});
    const auto second = balloon::readSofaDirectivity(path, {2, balloon::MeasurementSum::Complex, 1.0});
    ASSERT_EQ(complexSum.error + powerSum.error + second.error, "");
    const double atOneMetre = 4.0;  // radius 2 m squared
    EXPECT_NEAR(complexSum.energies[0][5], 4 * atOneMetre, 1e-9);
    EXPECT_NEAR(complexSum.energies[0][15], 0.0, 1e-9);
    EXPECT_NEAR(powerSum.energies[0][15], 2 * atOneMetre, 1e-9);
    EXPECT_NEAR(second.energies[0][15], atOneMetre, 1e-9);
    EXPECT_EQ(complexSum.combination + "; " + powerSum.combination + "; " + second.combination,
              "complex sum of 2 measurements; power sum of 2 measurements; measurement 2 of 2");
}

TEST_F(SofaImport, ALobeAtAzimuthPlus30LandsOnTheLeftMeridian) {
    const Fixture fx = lobeAtAzimuth30();
    const auto read = balloon::readSofaDirectivity(write(fx), {});
    ASSERT_EQ(read.error, "");
    const balloon::ResampleResult r = balloon::resampleToGrid(read.directions, read.energies);
    ASSERT_EQ(r.error, "");
    int bestM = 0, bestP = 0;
    for (int m = 0; m < acoustics::kMeridianCount; ++m)
        for (int p = 1; p < acoustics::kPolarCount; ++p)
            if (r.balloon[acoustics::balloonIndex(0, m, p)] > r.balloon[acoustics::balloonIndex(0, bestM, bestP)])
                bestM = m, bestP = p;
    EXPECT_EQ(bestM * 5, 270);  // the cabinet's left
    EXPECT_EQ(bestP * 5, 30);
}

TEST_F(SofaImport, TheCommandWritesBalloonAndTablesOrNothing) {
    Fixture fx = basic();
    fx.pressure = [](int, const Receiver& r, double) {
        const double az = r.azimuthDeg * kPi / 180, el = r.elevationDeg * kPi / 180;
        return std::complex<double>(0.2 + std::cos(el) * std::cos(az) + 1.0, 0.0);
    };
    const std::string good = write(fx, "good.sofa");
    fx.positionUnits = "degree, degree, inch";
    const std::string bad = write(fx, "bad.sofa");
    const std::string exe = BALLOON_EXE;
    auto run = [&](const std::string& file, const std::string& out) {
        std::system(("mkdir -p '" + out + "'").c_str());
        return std::system(("'" + exe + "' import-sofa '" + file + "' '" + out + "' --kind QSB --mirror > '" + out +
                            ".log' 2>&1")
                               .c_str());
    };
    EXPECT_NE(run(bad, dir_ + "/refused"), 0);
    EXPECT_NE(std::system(("test -e '" + dir_ + "/refused/qsb.f32' || test -e '" + dir_ + "/refused/qsb.tables.txt'").c_str()), 0);

    // Files on which the libraries themselves fault (HDF5 reads past a heap
    // block and frees a bad pointer; the classic reader frees a null map
    // where an allocation of gigabytes fails): the reader's process ends,
    // the command refuses the file and lives on.
    for (const char* name : {"hdf5-global-heap-read-past-its-buffer.nc4", "classic-header-frees-a-null-map.nc3"}) {
        const std::string damaged = PROJECT_SOURCE "/tools/balloon/tests/damaged/" + std::string(name);
        const int status = run(damaged, dir_ + "/damaged");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << name << ": " << status;
        EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/damaged")) << name;
        const std::string logText = fileText(dir_ + "/damaged.log");
        // Where the allocation succeeds the library refuses the file itself.
        EXPECT_NE(logText.find(damaged + ": file: "), std::string::npos) << logText;
        if (name[0] == 'h') {
            EXPECT_NE(logText.find(damaged + ": file: the netCDF library failed on this file"), std::string::npos)
                << logText;
        }
    }

    // A file on which HDF5 loops: the reader is stopped at its time limit.
    balloon::SofaOptions patient;
    patient.readerSeconds = 1.0;
    const std::string looping = PROJECT_SOURCE "/tools/balloon/tests/damaged/hdf5-attribute-read-that-never-ends.nc4";
    EXPECT_EQ(balloon::readSofaDirectivityIsolated(looping, patient).error,
              looping + ": file: the netCDF library was still reading this file after 1 s; it was stopped (a damaged "
                        "file can make it loop)");
    // A file within the caps that needs more memory than the reader may
    // take (one receiver of 6.4 million measurements: two 1 GiB arrays),
    // with the reader's address space set a little above what it holds at
    // the start: refused as running out of memory. (AddressSanitizer's
    // shadow memory leaves the reader's address space unlimited.)
    if (balloon::kReaderAddressSpaceLimited) {
        Fixture large = basic();
        large.receivers = spiralReceivers(1, 2.0);
        large.declaredM = (size_t(1) << 27) / 21;
        large.writeFrequenciesOnly = true;
        const std::string file = write(large, "large.sofa");
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages;
        balloon::SofaOptions tight;
        tight.readerAddressSpaceBytes = pages * size_t(sysconf(_SC_PAGESIZE)) + (size_t(256) << 20);
        const std::string error = balloon::readSofaDirectivityIsolated(file, tight).error;
        EXPECT_EQ(error.rfind(file + ": file: ran out of memory: reading it needs more than the reader's ", 0), 0u) << error;
    }
    // The isolated reader gives what the reader gives.
    const balloon::SofaDirectivity direct = balloon::readSofaDirectivity(good, {}),
                                   isolated = balloon::readSofaDirectivityIsolated(good, {});
    ASSERT_EQ(isolated.error, "");
    ASSERT_EQ(isolated.energies.size(), direct.energies.size());
    EXPECT_EQ(isolated.energies.back(), direct.energies.back());
    EXPECT_EQ(isolated.directions.back().z, direct.directions.back().z);
    EXPECT_EQ(isolated.combination + isolated.directionVariable, direct.combination + direct.directionVariable);

    ASSERT_EQ(run(good, dir_ + "/accepted"), 0);
    balloon::Balloon b;
    ASSERT_EQ(balloon::readBalloonFile(dir_ + "/accepted/qsb.f32", b), "");
    EXPECT_EQ(b[acoustics::balloonIndex(4, 7, 0)], 0.0f);
    EXPECT_EQ(b[acoustics::balloonIndex(4, 10, 9)], b[acoustics::balloonIndex(4, 62, 9)]);  // --mirror
    EXPECT_EQ(std::system(("test -s '" + dir_ + "/accepted/qsb.tables.txt'").c_str()), 0);
}

// --pa-per-unit scales pressures: the energies by its square. A constant 3
// units at 2 m with 0.01 Pa per unit is 0.06 Pa at 1 m, 69.542 dB SPL on
// axis; --gain-db adds to that.
TEST_F(SofaImport, PascalPerUnitAndGainGiveTheHandComputedOnAxisLevel) {
    Fixture fx = basic();
    fx.pressure = [](int, const Receiver&, double) { return std::complex<double>(0.0, 3.0); };
    const std::string file = write(fx), out = dir_ + "/out";
    std::filesystem::create_directories(out);
    for (const auto& [options, expectedDb] :
         std::vector<std::pair<std::string, double>>{{"--pa-per-unit 0.01", 69.5424}, {"--pa-per-unit 0.01 --gain-db 6", 75.5424}}) {
        ASSERT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + out + "' --kind QSA " + options +
                               " > /dev/null")
                                  .c_str()),
                  0);
        std::ifstream tables(out + "/qsa.tables.txt");
        std::string line;
        for (int band = 0; band <= 10 && std::getline(tables, line);) band += line[0] != '#';
        double hz = 0, onAxisDb = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &hz, &onAxisDb), 2) << line;
        EXPECT_EQ(hz, 1000.0);
        EXPECT_NEAR(onAxisDb, expectedDb, 1e-3) << options;
    }
}

// Finite numbers that square, add or divide past the range of a double are
// refused where they first overflow, with the variable and the index, and
// nothing is written; before, they became a balloon of NaN with exit 0.
TEST_F(SofaImport, FiniteValuesThatOverflowAreRefusedAndNothingIsWritten) {
    Fixture fx = basic();
    fx.pressure = [](int, const Receiver& r, double hz) {
        return std::complex<double>(hz != 1000 || r.elevationDeg > -80 ? 1.0 : 1e160, 0.0);
    };
    const std::string loud = write(fx, "loud.sofa");
    const balloon::SofaDirectivity read = balloon::readSofaDirectivity(loud, {});
    EXPECT_EQ(read.error.rfind(loud + ": Data.Real: the 1000.0 Hz band energy at R ", 0), 0u) << read.error;
    EXPECT_NE(read.error.find("overflows a double"), std::string::npos) << read.error;
    EXPECT_TRUE(read.energies.empty());

    const std::string plain = write(basic(), "plain.sofa");
    const balloon::SofaDirectivity scaled = balloon::readSofaDirectivity(plain, {0, balloon::MeasurementSum::Complex, 1e155});
    EXPECT_EQ(scaled.error.rfind(plain + ": --pa-per-unit: 1e+155 pascal per unit squares to inf", 0), 0u)
        << scaled.error;

    // Through the command: exit 1, the file named, no balloon and no tables.
    struct Run {
        std::string file, options, named;
    };
    for (const Run& run : {Run{loud, "", "Data.Real"}, Run{plain, "--pa-per-unit 1e155", "--pa-per-unit"},
                           Run{plain, "--gain-db 4000", "tables: the on-axis level at 100 Hz is inf dB"}}) {
        const std::string out = dir_ + "/refused", log = dir_ + "/refused.log";
        std::filesystem::create_directories(out);
        const int status = std::system(("'" BALLOON_EXE "' import-sofa '" + run.file + "' '" + out + "' --kind KTR " +
                                        run.options + " > '" + log + "' 2>&1")
                                           .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << run.options << ": " << status;
        const std::string text = fileText(log);
        EXPECT_NE(text.find(run.file + ": " + run.named), std::string::npos) << text;
        EXPECT_TRUE(std::filesystem::is_empty(out)) << run.options;
    }
}

// Three drivers, each measured about its own centre, so that their complex
// sum nearly cancels on axis: the import warns per band, naming what to try,
// --strict refuses, and the suggested --sum power imports cleanly.
TEST_F(SofaImport, ImplausibleDataAreWarnedAboutAndRefusedUnderStrict) {
    Fixture fx = basic();
    fx.measurements = 3;
    fx.dataUnits = "pascal";
    fx.pressure = [](int m, const Receiver& r, double) {
        const double az = r.azimuthDeg * kPi / 180, el = r.elevationDeg * kPi / 180;
        const double x = std::cos(el) * std::cos(az), y = std::cos(el) * std::sin(az);
        // Phases 0, 0.95 x 120 and 0.95 x 240 degrees on axis, spreading off it.
        return std::polar(1.2 + x, 2 * kPi / 3 * m * (0.95 + 0.5 * y + 0.3 * (1 - x)));
    };
    const std::string file = write(fx);
    struct Outcome {
        int status;
        std::string log;
        bool wrote;
    };
    auto import = [&](const std::string& options) {
        const std::string out = dir_ + "/out", log = dir_ + "/import.log";
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        const int status = std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + out + "' --kind qsa " +
                                        options + " > '" + log + "' 2>&1")
                                           .c_str());
        return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(log),
                       std::filesystem::exists(out + "/qsa.f32")};
    };
    const Outcome warned = import("");
    EXPECT_EQ(warned.status, 0) << warned.log;
    EXPECT_TRUE(warned.wrote);
    EXPECT_NE(warned.log.find(file + ": warning: 1000 Hz: the measurements cancel on axis"), std::string::npos)
        << warned.log;
    EXPECT_NE(warned.log.find("try --sum power"), std::string::npos);
    EXPECT_NE(warned.log.find(file + ": warning: 1000 Hz: Q "), std::string::npos) << warned.log;
    EXPECT_NE(warned.log.find("dB above on axis; check the axis"), std::string::npos) << warned.log;
    EXPECT_EQ(warned.log.find("Data.Real has no Units"), std::string::npos);

    const Outcome strict = import("--strict");
    EXPECT_EQ(strict.status, 1);
    EXPECT_FALSE(strict.wrote);
    EXPECT_NE(strict.log.find(file + ": refused: 1000 Hz: the measurements cancel on axis"), std::string::npos)
        << strict.log;

    const Outcome summed = import("--strict --sum power");
    EXPECT_EQ(summed.status, 0) << summed.log;
    EXPECT_TRUE(summed.wrote);
    EXPECT_EQ(summed.log.find("warning"), std::string::npos) << summed.log;
    // What the suggested command wrote, the build takes.
    EXPECT_EQ(std::system(("'" CMAKE_EXE "' -S '" PROJECT_SOURCE "' -B '" + dir_ + "/build' -DBUILD_TESTING=OFF -DMODEL_DATA_DIR='" +
                           dir_ + "/out' > '" + dir_ + "/configure.log' 2>&1")
                              .c_str()),
              0);

    // Pressures of no stated unit are pointed out, unless scaled.
    fx.dataUnits.clear();
    write(fx);
    EXPECT_NE(import("--sum power").log.find(file + ": warning: Data.Real has no Units"), std::string::npos);
    EXPECT_EQ(import("--sum power --pa-per-unit 2").log.find("no Units"), std::string::npos);

    // A product's name is not a kind.
    const Outcome product = import("--kind ktr4");
    EXPECT_EQ(product.status, 2);
    EXPECT_NE(product.log.find("--kind 'ktr4' is not a cabinet kind: KTR (ktr2 and ktr4), QSA, QSB or QSC"),
              std::string::npos)
        << product.log;
}

// Three drivers of 1, 2 and 4 Pa at 2 m, each band taken from the driver
// whose range holds its centre; at a crossover (500 Hz here, in the ranges
// of both the first and the second) they add as energies, or as pressures
// when a complex sum is asked for.
TEST_F(SofaImport, BandsAreTakenFromTheDriverWhoseRangeHoldsThem) {
    Fixture fx = basic();
    fx.measurements = 3;
    fx.pressure = [](int m, const Receiver&, double) { return std::complex<double>(double(1 << m), 0.0); };
    const std::string file = write(fx);
    balloon::SofaOptions options;
    options.use = {{1, 100, 500}, {2, 500, 2000}, {3, 2100, 10000}};
    const balloon::SofaDirectivity power = balloon::readSofaDirectivity(file, options);
    ASSERT_EQ(power.error, "");
    const double atOneMetre = 4.0;  // 2 m squared
    EXPECT_NEAR(power.energies[0][0], 1 * atOneMetre, 1e-9);   // 100 Hz: driver 1
    EXPECT_NEAR(power.energies[0][7], 5 * atOneMetre, 1e-9);   // 500 Hz: 1 + 4
    EXPECT_NEAR(power.energies[0][10], 4 * atOneMetre, 1e-9);  // 1 kHz: driver 2
    EXPECT_NEAR(power.energies[0][20], 16 * atOneMetre, 1e-9); // 10 kHz: driver 3
    EXPECT_EQ(power.combination,
              "bands by --use: 100-400 Hz from measurement 1, 500 Hz from measurements 1+2 (power sum at the "
              "crossover), 630-2000 Hz from measurement 2, 2500-10000 Hz from measurement 3");
    options.sum = balloon::MeasurementSum::Complex;
    options.sumGiven = true;
    const balloon::SofaDirectivity complex = balloon::readSofaDirectivity(file, options);
    EXPECT_NEAR(complex.energies[0][7], 9 * atOneMetre, 1e-9);  // (1 + 2)^2
    EXPECT_NE(complex.combination.find("500 Hz from measurements 1+2 (complex sum at the crossover)"), std::string::npos);

    // Refusals: a band no range holds, a measurement the file lacks, --use
    // beside --measurement.
    options = {};
    options.use = {{1, 100, 630}, {3, 2000, 10000}};
    EXPECT_EQ(balloon::readSofaDirectivity(file, options).error,
              file + ": --use: no measurement is used for the bands at 800, 1000, 1250, 1600 Hz");
    options.use = {{4, 100, 10000}};
    EXPECT_EQ(balloon::readSofaDirectivity(file, options).error.rfind(file + ": --use: 4:100-10000: a measurement 1-3", 0), 0u);
    options.use = {{0, 100, 10000}};  // measurements count from 1
    EXPECT_EQ(balloon::readSofaDirectivity(file, options).error.rfind(file + ": --use: 0:100-10000: a measurement 1-3", 0), 0u);
    // A range given twice, or inside another of the same measurement, still
    // takes that driver once.
    options.use = {{1, 100, 500}, {1, 200, 300}, {2, 500, 2000}, {3, 2100, 10000}, {3, 2100, 10000}};
    const balloon::SofaDirectivity repeated = balloon::readSofaDirectivity(file, options);
    ASSERT_EQ(repeated.error, "");
    EXPECT_NEAR(repeated.energies[0][3], 1 * atOneMetre, 1e-9);   // 200 Hz: driver 1 once
    EXPECT_NEAR(repeated.energies[0][7], 5 * atOneMetre, 1e-9);   // 500 Hz: 1 + 4
    EXPECT_NEAR(repeated.energies[0][20], 16 * atOneMetre, 1e-9);
    options.use = {{1, 100, 10000}};
    options.measurement = 2;
    EXPECT_EQ(balloon::readSofaDirectivity(file, options).error,
              file + ": M: --use and --measurement both choose measurements; give one");
    // Through the command line, a range that is not K:LOW-HIGH.
    EXPECT_NE(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + dir_ + "' --kind QSA --use 1:100 > /dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + dir_ +
                           "' --kind QSA --use 1:100-500 2:500-2000 3:2100-10000 > /dev/null 2>&1")
                              .c_str()),
              0);
}

// balloon compare: the same measurement imported at two gains differs only
// in its on-axis level; a node raised to +7 dB shows as the largest
// difference, where it lies, and as a warning of a direction louder than the
// axis.
TEST_F(SofaImport, CompareReportsLevelsNodesAndWarnings) {
    const std::string file = write(basic()), a = dir_ + "/a", b = dir_ + "/b";
    for (const auto& [out, options] : {std::pair{a, std::string("")}, std::pair{b, std::string("--gain-db 3")}}) {
        std::filesystem::create_directories(out);
        ASSERT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + out + "' --kind KTR " + options +
                               " > /dev/null 2>&1")
                                  .c_str()),
                  0);
    }
    balloon::Balloon raised;
    ASSERT_EQ(balloon::readBalloonFile(b + "/ktr.f32", raised), "");
    raised[acoustics::balloonIndex(10, 18, 2)] = 7.0f;  // 1 kHz, meridian 90, polar 10
    ASSERT_EQ(balloon::writeBalloonFile(b + "/ktr.f32", raised), "");
    const std::string report = dir_ + "/compare.txt";
    ASSERT_EQ(std::system(("'" BALLOON_EXE "' compare '" + a + "/ktr.f32' '" + b + "/ktr.f32' > '" + report + "'").c_str()), 0);
    std::ifstream in(report);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 25u);
    // One line per band after the two names and the heading.
    for (int band = 0; band < acoustics::kBandCount; ++band) {
        const std::string& line = lines[3 + band];
        EXPECT_NE(line.find("    +3.000 "), std::string::npos) << line;
        if (band != 10) {
            EXPECT_NE(line.find("+0.000 at meridian"), std::string::npos) << line;
        }
    }
    EXPECT_NE(lines[3 + 10].find(" at meridian 90, polar 10"), std::string::npos) << lines[13];
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_NE(all.find("B warning: 1000 Hz: meridian 90, polar 10 is 7.0 dB above on axis"), std::string::npos) << all;
    EXPECT_EQ(all.find("A warning"), std::string::npos) << all;
    // A file that is not a balloon is refused.
    EXPECT_NE(std::system(("'" BALLOON_EXE "' compare '" + a + "/ktr.tables.txt' '" + b + "/ktr.f32' > /dev/null 2>&1").c_str()), 0);
}

// What the import writes, the build takes: a directivity factor below 1 is
// accepted. What the build refuses, it names line by line: the band, the
// field and the value.
TEST_F(SofaImport, TheBuildTakesWhatTheImportWritesAndNamesEveryBadValue) {
    const std::string file = write(basic()), data = dir_ + "/data";
    std::filesystem::create_directories(data);
    for (const char* kind : {"KTR", "QSA", "QSB", "QSC"})
        ASSERT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + data + "' --kind " + kind +
                               " > /dev/null 2>&1")
                                  .c_str()),
                  0);
    // Rewrites field `field` (1 on-axis level, 2 Q) of the band lines given.
    auto edit = [&](const std::vector<std::pair<int, std::string>>& bandValues, int field) {
        std::ifstream in(data + "/qsa.tables.txt");
        std::string text, line;
        for (int lineNumber = 0; std::getline(in, line); ++lineNumber) {
            for (const auto& [band, value] : bandValues) {
                if (lineNumber != band + 1) continue;
                std::istringstream fields(line);
                std::vector<std::string> f((std::istream_iterator<std::string>(fields)), std::istream_iterator<std::string>());
                f[field] = value;
                line.clear();
                for (const std::string& x : f) line += (line.empty() ? "" : "  ") + x;
            }
            text += line + "\n";
        }
        std::ofstream(data + "/qsa.tables.txt", std::ios::trunc) << text;
    };
    auto configure = [&](std::string& log) {
        const std::string build = dir_ + "/build", logPath = dir_ + "/configure.log";
        std::filesystem::remove_all(build);
        const int status = std::system(("'" CMAKE_EXE "' -S '" PROJECT_SOURCE "' -B '" + build +
                                        "' -DBUILD_TESTING=OFF -DMODEL_DATA_DIR='" + data + "' > '" + logPath + "' 2>&1")
                                           .c_str());
        log = fileText(logPath);
        return status;
    };
    std::string log;
    edit({{5, "0.5000"}}, 2);  // 315 Hz: the axis quieter than the mean
    EXPECT_EQ(configure(log), 0) << log;
    edit({{3, "nan"}}, 1);
    edit({{7, "0.0000"}, {12, "-1.5"}}, 2);
    EXPECT_NE(configure(log), 0);
    for (const char* named : {"200 Hz: on_axis_dB_SPL_at_1m 'nan' is not a number of dB", "500 Hz: Q '0.0000' is not a number above 0",
                              "1600 Hz: Q '-1.5' is not a number above 0"})
        EXPECT_NE(log.find(named), std::string::npos) << named << "\n" << log;
    EXPECT_NE(log.find(data + "/qsa.tables.txt: refused:"), std::string::npos) << log;
}

// From the measurement file to the plug-in: the import's balloon and tables
// of the ktr cabinet, alone in a folder, go into a build of ktr4 made from
// them, and a seat on the side of the measured lobe hears it through the
// exports, where the plug-in's own direction angles put that side; qspan,
// whose kinds the folder lacks, keeps its placeholders.
TEST_F(SofaImport, TheImportedDataReachThePlugInThroughItsExports) {
    Fixture fx = lobeAtAzimuth30();
    fx.globals = {{"Title", "Lobe \"30\" test"}, {"Organization", "Test Lab"}, {"License", "CC-BY-SA 4.0"},
                  {"Comment", "two\nlines"}};
    const std::string file = write(fx), data = dir_ + "/data", build = dir_ + "/build";
    std::filesystem::create_directories(data);
    ASSERT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + data + "' --kind KTR > '" + dir_ +
                           "/import.log' 2>&1")
                              .c_str()),
              0);
    const std::string cmake = "'" CMAKE_EXE "'";
    ASSERT_EQ(std::system((cmake + " -S '" PROJECT_SOURCE "' -B '" + build +
                           "' -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMODEL_DATA_DIR='" + data +
                           "' > '" + build + ".log' 2>&1 && " + cmake + " --build '" + build +
                           "' --target ktr4 qspan -j 2 >> '" + build + ".log' 2>&1")
                              .c_str()),
              0)
        << "see " << build << ".log";
    {
        const std::string text = fileText(build + ".log");
        EXPECT_NE(text.find("-- Model data KTR: measured from " + data + "/ktr.f32, imported from test.sofa: Lobe \"30\" test"),
                  std::string::npos)
            << text;
        for (const char* kind : {"QSA", "QSB", "QSC"})
            EXPECT_NE(text.find("-- Model data " + std::string(kind) + ": placeholder"), std::string::npos) << kind;
    }
    {
        std::string error;
        const auto qspan = host::PluginLibrary::open(build + "/bin/qspan.so", error);
        ASSERT_NE(qspan, nullptr) << error;
        ASSERT_EQ(qspan->CI_GetFreeID(), 1);
        float level = 0, factor = 0;
        qspan->CI_GetCompSPL1m(1, 11, &level);
        qspan->CI_GetCompDirectivity(1, 21, &factor);
        EXPECT_EQ(level, 126.0f);  // the placeholder's, as the response tests pin them
        EXPECT_EQ(factor, 45.095f);
        // plugininfo --data walks the kinds by their numbers: QSC is the third.
        const std::string info = dir_ + "/qspan-info.txt";
        ASSERT_EQ(std::system(("'" PLUGININFO_EXE "' --data '" + build + "/bin/qspan.so' > '" + info + "' 2>&1").c_str()), 0);
        const std::string text = fileText(info);
        const size_t qsc = text.find("  kind QSC\n    provenance:    placeholder\n");
        ASSERT_NE(qsc, std::string::npos) << text;
        EXPECT_NE(text.find("    10000     126.000   40.2690\n", qsc), std::string::npos) << text;
    }

    // The import's record of its source, and what plugininfo reads back
    // from the plug-in built on it.
    const std::string source = fileText(data + "/ktr.source.txt");
    for (const std::string& line : {std::string("Title: Lobe \"30\" test\n"), std::string("Organization: Test Lab\n"),
                                    std::string("License: CC-BY-SA 4.0\n"), std::string("Comment: two lines\n"),
                                    "SHA-256: " + host::sha256OfFile(file) + "\n", std::string("File: test.sofa\n"),
                                    "Command: balloon import-sofa " + file + " " + data + " --kind KTR\n"})
        EXPECT_NE(source.find(line), std::string::npos) << line << source;
    const std::string info = dir_ + "/plugininfo.txt";
    ASSERT_EQ(std::system(("'" PLUGININFO_EXE "' --data '" + build + "/bin/ktr4.so' > '" + info + "' 2>&1").c_str()), 0);
    const std::string infoText = fileText(info);
    EXPECT_NE(infoText.find("provenance:    measured: Lobe \"30\" test, Test Lab, licence CC-BY-SA 4.0\n"), std::string::npos)
        << infoText;
    EXPECT_NE(infoText.find("balloon:       sha256 " + host::sha256OfFile(data + "/ktr.f32") + " (as the build recorded it)"),
              std::string::npos)
        << infoText;

    std::string error;
    const auto plugin = host::PluginLibrary::open(build + "/bin/ktr4.so", error);
    ASSERT_NE(plugin, nullptr) << error;
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    std::ifstream tables(data + "/ktr.tables.txt");
    std::string line;
    std::getline(tables, line);  // heading
    for (int32_t band = 1; band <= acoustics::kBandCount; ++band) {
        double hz = 0, onAxisDb = 0, q = 0;
        ASSERT_TRUE(std::getline(tables, line));
        std::sscanf(line.c_str(), "%lf %lf %lf", &hz, &onAxisDb, &q);
        float level = 0, factor = 0;
        plugin->CI_GetCompSPL1m(1, band, &level);
        plugin->CI_GetCompDirectivity(1, band, &factor);
        EXPECT_NEAR(level, onAxisDb, 1e-3) << hz;
        EXPECT_NEAR(factor, q, 1e-4 * q) << hz;
        char row[64];
        std::snprintf(row, sizeof row, "    %-7g  %8.3f  %8.4f\n", hz, double(level), double(factor));
        EXPECT_NE(infoText.find(row), std::string::npos) << row;
    }

    // Cell 1 of an unturned array at the origin faces -y; seats 10 m away at
    // 30 degrees to its left (+x, seen from behind it) and to its right.
    const float origin[3] = {0, 0, 0};
    plugin->CI_SetLspkAngles3fv(origin);
    plugin->CI_SetLspkPosition3fv(origin);
    auto levelAt = [&](float x) {
        const float seat[3] = {x * 5.0f, -8.660254f, 0.0f};
        plugin->CI_SetSeatPosition3fv(seat);
        float levels[21], phases[21], time = 0;
        plugin->CI_GetCompFR(1, levels, phases, &time);
        return levels[10];  // 1 kHz
    };
    const float left = levelAt(1.0f), right = levelAt(-1.0f);
    // The lobe is 4 times the pressure of the rest: some 14 dB above the
    // other side.
    EXPECT_GT(left - right, 10.0f) << "left " << left << " dB, right " << right << " dB";
}

// A maker's text from the measurement files to the plug-ins: names in
// several scripts and text hostile to the build (a licence and a file line
// forged after a control character, CMake's "$ENV{...}", "${...}", an
// unterminated "${", ';', brackets, a zero byte, invalid UTF-8) pass the
// import's record as one line each and reach each plug-in's data record,
// read back by plugininfo --data, as inert text; the builder's environment
// reaches no plug-in. A licence the file lacks is the maker's to state
// (--licence), and recorded as the maker's.
TEST_F(SofaImport, AMakersTextReachesThePlugInsIntactOrInert) {
    const std::string data = dir_ + "/data", build = dir_ + "/build", hostile = std::string(
        "X\x01License: CC0-fake $ENV{HOME} ${CMAKE_COMMAND} ${x ; a[b ]] [=[ \\ \x1B[31m\x7F" "end ") + std::string(1, '\0') +
        "Z M\xFCller";
    std::string longTitle;
    for (int i = 0; i < 200; ++i) longTitle += "Long title";  // 2,000 characters
    struct Kind {
        const char* kind;
        std::vector<std::pair<std::string, std::string>> globals;
        std::string options;
        std::string provenance;  // as plugininfo --data must show it, written out by hand
    };
    const std::vector<Kind> kinds = {
        {"KTR",
         {{"Title", hostile}, {"Organization", "Müller Lab"}, {"License", "CC-BY-4.0"}, {"Comment", "c\x01" "File: evil.sofa"}},
         "",
         "measured: X License: CC0-fake $ENV{HOME} ${CMAKE_COMMAND} ${x ; a[b ]] [=[ \\  [31m end  Z M\xEF\xBF\xBDller, "
         "Müller Lab, licence CC-BY-4.0"},
        // A title that reads like a record of its own, which a search of the
        // file's bytes would take for the last word on the kind.
        {"QSA", {{"Title", "QSA MODEL-DATA QSA sha256=" + std::string(64, '0') + " forged"}, {"Organization", "Universität Ångström"},
                 {"License", "CC-BY-SA-4.0"}},
         "", "measured: QSA MODEL-DATA QSA sha256=" + std::string(64, '0') + " forged, Universität Ångström, licence CC-BY-SA-4.0"},
        {"QSB", {{"Title", "QSB"}, {"Organization", "東京音響研究所"}}, " --licence CC-BY-4.0",
         "measured: QSB, 東京音響研究所, licence CC-BY-4.0 (stated by the maker; the file states none)"},
        {"QSC", {{"Title", longTitle}, {"Organization", "Lab"}, {"License", "CC0-1.0"}}, "",
         "measured: " + longTitle.substr(0, 234) + "…[cut], Lab, licence CC0-1.0"},
    };
    std::filesystem::create_directories(data);
    const std::string importLog = dir_ + "/import.log";
    for (const Kind& k : kinds) {
        Fixture fx = basic();
        fx.globals = k.globals;
        const std::string file = write(fx, std::string(k.kind) + ".sofa");
        ASSERT_EQ(std::system(("'" BALLOON_EXE "' import-sofa '" + file + "' '" + data + "' --kind " + k.kind + k.options +
                               " > '" + importLog + "' 2>&1")
                                  .c_str()),
                  0)
            << fileText(importLog);
    }
    // The records: one line per key, each key once, no line the text forged.
    const std::string ktr = fileText(data + "/ktr.source.txt");
    for (const std::string& line :
         {std::string("\nTitle: X License: CC0-fake $ENV{HOME} ${CMAKE_COMMAND} ${x ; a[b ]] [=[ \\  [31m end  Z M\xEF\xBF\xBDller\n"),
          std::string("\nLicense: CC-BY-4.0\nLicense-Given-By: the file\n"), std::string("\nComment: c File: evil.sofa\n"),
          std::string("\nFile: KTR.sofa\n")})
        EXPECT_NE(ktr.find(line), std::string::npos) << line << ktr;
    EXPECT_EQ(ktr.find("\nLicense: CC0-fake"), std::string::npos) << ktr;
    EXPECT_EQ(ktr.find("\nFile: evil.sofa"), std::string::npos) << ktr;
    const std::string qsb = fileText(data + "/qsb.source.txt");
    EXPECT_NE(qsb.find("\nLicense: CC-BY-4.0\nLicense-Given-By: the maker\n"), std::string::npos) << qsb;

    // --licence is for a file that states none, and names a licence.
    const std::string qsaFile = dir_ + "/QSA.sofa", other = dir_ + "/other";
    std::filesystem::create_directories(other);
    const int stated = std::system(("'" BALLOON_EXE "' import-sofa '" + qsaFile + "' '" + other +
                                    "' --kind QSA --licence CC0-1.0 > '" + importLog + "' 2>&1")
                                       .c_str());
    EXPECT_TRUE(WIFEXITED(stated) && WEXITSTATUS(stated) == 2) << stated;
    EXPECT_NE(fileText(importLog).find(qsaFile + ": License: the file states 'CC-BY-SA-4.0'; --licence is for files that state none"),
              std::string::npos)
        << fileText(importLog);
    EXPECT_NE(std::system(("'" BALLOON_EXE "' import-sofa '" + dir_ + "/QSB.sofa' '" + other +
                           "' --kind QSB --licence ' \x01' > /dev/null 2>&1")
                              .c_str()),
              0);
    EXPECT_TRUE(std::filesystem::is_empty(other));

    // The plug-ins built from the folder, by a builder whose HOME is a marker.
    const std::string marker = dir_ + "/home-leak-marker";
    std::filesystem::create_directories(marker);
    const std::string cmake = "HOME='" + marker + "' '" CMAKE_EXE "'";
    ASSERT_EQ(std::system((cmake + " -S '" PROJECT_SOURCE "' -B '" + build +
                           "' -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMODEL_DATA_DIR='" + data + "' > '" + build +
                           ".log' 2>&1 && " + cmake + " --build '" + build + "' --target ktr4 qspan -j 2 >> '" + build +
                           ".log' 2>&1")
                              .c_str()),
              0)
        << "see " << build << ".log";
    for (const char* library : {"ktr4", "qspan"}) {
        const std::string info = dir_ + "/" + library + ".txt", path = build + "/bin/" + library + ".so";
        ASSERT_EQ(std::system(("'" PLUGININFO_EXE "' --data '" + path + "' > '" + info + "' 2>&1").c_str()), 0)
            << fileText(info);
        const std::string text = fileText(info);
        EXPECT_EQ(text.find("data section:"), std::string::npos) << text;
        for (const Kind& k : kinds) {
            if ((std::string(library) == "ktr4") != (std::string(k.kind) == "KTR")) continue;
            EXPECT_NE(text.find("  kind " + std::string(k.kind) + "\n    provenance:    " + k.provenance +
                                "\n    balloon:       sha256 "),
                      std::string::npos)
                << k.kind << "\n" << text;
        }
        EXPECT_EQ(text.find("NOT the one the build recorded"), std::string::npos) << text;
        const std::string bytes = fileText(path);
        EXPECT_EQ(bytes.find("home-leak-marker"), std::string::npos) << library;
        EXPECT_EQ(bytes.find(CMAKE_EXE), std::string::npos) << library;
    }
    // An entry damaged in the file: plugininfo says so and shows no record
    // rather than whatever text it might find.
    {
        std::string bytes = fileText(build + "/bin/qspan.so");
        const size_t magic = bytes.find(std::string("MDATA1\0\0", 8));
        ASSERT_NE(magic, std::string::npos);
        bytes[magic] = 'X';
        const std::string copy = dir_ + "/damaged/qspan.so", info = dir_ + "/damaged.txt";
        std::filesystem::create_directories(dir_ + "/damaged");
        std::ofstream(copy, std::ios::binary) << bytes;
        EXPECT_NE(std::system(("'" PLUGININFO_EXE "' --data '" + copy + "' > '" + info + "' 2>&1").c_str()), 0);
        const std::string text = fileText(info);
        EXPECT_NE(text.find("  data section:    the section .mdata holds a damaged entry at byte 0\n"), std::string::npos) << text;
        EXPECT_NE(text.find("  kind QSA\n    provenance:    none embedded\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("forged"), std::string::npos) << text;
    }
}

// The digests of FIPS 180-4's examples.
TEST(Sha256, KnownDigests) {
    EXPECT_EQ(host::sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(host::sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(host::sha256Hex(twoBlocks.data(), twoBlocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    host::Sha256 million;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.add(thousand.data(), thousand.size());
    EXPECT_EQ(million.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
