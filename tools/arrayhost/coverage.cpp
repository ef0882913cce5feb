#include "tools/arrayhost/coverage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <cstdio>
#include <memory>
#include <condition_variable>
#include <mutex>

#include "tools/arrayhost/progress.h"
#include "tools/arrayhost/workers.h"

namespace arrayhost {

SeatResult measureSeat(const Session& session, const Vec3& seatM, double speedOfSoundMPerS, CoherentMode mode) {
    SeatResult result;
    result.seatM = seatM;
    result.arrayDistanceM = session.setSeat(seatM);
    result.poses.resize(size_t(session.cellCount()));
    result.cells.resize(size_t(session.cellCount()));
    result.refusedCalls = session.respond(result.poses.data(), result.cells.data());
    result.law = session.interfaceLaw(result.poses.data());
    result.sums = CoherentSum(speedOfSoundMPerS, mode).all(result.cells.data(), session.cellCount(), result.law);
    return result;
}

CoverageMap::CoverageMap(const AudiencePlane& plane, std::vector<int> bands)
    : plane_(plane), bands_(std::move(bands)), columns_(plane.columns()), rows_(plane.rows()) {
    values_.assign(size_t(layerCount()) * size_t(columns_) * size_t(rows_), float(kSilenceDb));
}

std::string CoverageMap::layerName(int layer) const {
    const CellSum sum = kEveryCellSum[layer % kSums];
    const size_t band = size_t(layer / kSums);
    std::string name = band < bands_.size() ? bandLabel(bands_[band]) : "broadband";
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    name = name + "_" + cellSumName(sum);
    return name + (band < bands_.size() ? "_dB" : "_dBA");
}

float& CoverageMap::at(int layer, int column, int row) {
    return values_[(size_t(layer) * size_t(rows_) + size_t(row)) * size_t(columns_) + size_t(column)];
}

float CoverageMap::at(int layer, int column, int row) const {
    return values_[(size_t(layer) * size_t(rows_) + size_t(row)) * size_t(columns_) + size_t(column)];
}

double CoverageMap::interpolate(int layer, double xM, double yM) const {
    const double u = std::clamp((xM - plane_.xMinM) / plane_.resolutionM, 0.0, double(columns_ - 1));
    const double v = std::clamp((yM - plane_.yMinM) / plane_.resolutionM, 0.0, double(rows_ - 1));
    const int c0 = std::min(int(u), std::max(columns_ - 2, 0)), r0 = std::min(int(v), std::max(rows_ - 2, 0));
    const int c1 = std::min(c0 + 1, columns_ - 1), r1 = std::min(r0 + 1, rows_ - 1);
    const double fu = u - c0, fv = v - r0;
    const double bottom = at(layer, c0, r0) * (1 - fu) + at(layer, c1, r0) * fu;
    const double top = at(layer, c0, r1) * (1 - fu) + at(layer, c1, r1) * fu;
    return bottom * (1 - fv) + top * fv;
}

// The extremes skip seats whose level is not a number; a layer of nothing
// else reports NaN at the first seat.
template <typename Beats>
CoverageMap::Extreme CoverageMap::extreme(int layer, Beats beats) const {
    Extreme e{std::nanf(""), 0, 0};
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < columns_; ++c) {
            const float v = at(layer, c, r);
            if (beats(v, e.levelDb) || (std::isnan(e.levelDb) && !std::isnan(v))) e = {v, c, r};
        }
    }
    return e;
}

CoverageMap::Extreme CoverageMap::loudest(int layer) const { return extreme(layer, std::greater<float>()); }

CoverageMap::Extreme CoverageMap::quietest(int layer) const { return extreme(layer, std::less<float>()); }

long CoverageMap::notANumber(int layer) const {
    long count = 0;
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < columns_; ++c) count += std::isnan(at(layer, c, r));
    }
    return count;
}

namespace {

// At most `most` buffers of `size` responses; a buffer returns to the spares
// when the last shared pointer to it goes.
class RowBuffers {
public:
    RowBuffers(size_t size, int most) : size_(size), most_(most) {}

    std::shared_ptr<std::vector<CellResponse>> take() {
        std::unique_lock<std::mutex> lock(mutex_);
        returned_.wait(lock, [this] { return !spares_.empty() || made_ < most_; });
        std::vector<CellResponse>* buffer;
        if (spares_.empty()) {
            ++made_;
            owned_.push_back(std::make_unique<std::vector<CellResponse>>(size_));
            buffer = owned_.back().get();
        } else {
            buffer = spares_.back();
            spares_.pop_back();
        }
        return {buffer, [this](std::vector<CellResponse>* used) {
                    {
                        std::lock_guard<std::mutex> guard(mutex_);
                        spares_.push_back(used);
                    }
                    returned_.notify_one();
                }};
    }

private:
    size_t size_;
    int most_, made_ = 0;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<std::vector<CellResponse>>> owned_;
    std::vector<std::vector<CellResponse>*> spares_;
};

}  // namespace

CoverageMap sweepAudience(const Session& session, const Scenario& scenario, SweepTiming& timing,
                          bool showProgress) {
    using Clock = std::chrono::steady_clock;
    timing = SweepTiming{};
    const AudiencePlane& plane = *scenario.audience;
    CoverageMap map(plane, scenario.mapBands);
    const int cells = session.cellCount(), columns = plane.columns();
    std::vector<CellPose> poses(static_cast<size_t>(cells));
    const CoherentSum coherent(scenario.speedOfSoundMPerS, scenario.coherentSum);
    // The array stands still while the seats move: one law for the sweep.
    const InterfaceLaw law = session.interfaceLaw(session.cellPoses().data());
    const long seats = long(columns) * long(plane.rows());
    std::unique_ptr<ProgressBar> progress;
    if (showProgress) progress = std::make_unique<ProgressBar>(seats);

    // This thread reads a row of seats from the plug-in while the workers sum
    // the rows already read; each row's answers are the row's own.
    Workers workers;
    // A few row buffers, recycled: the main thread waits for one when it
    // runs ahead of the sums, since a fresh buffer per row costs it more in
    // page faults than the plug-in's answers.
    RowBuffers buffers(size_t(columns) * size_t(cells), 2 * workers.size() + 1);
    Clock::duration inPlugin{};
    const auto start = Clock::now();
    for (int row = 0; row < plane.rows(); ++row) {
        std::shared_ptr<std::vector<CellResponse>> responses = buffers.take();
        const auto before = Clock::now();
        for (int column = 0; column < columns; ++column) {
            session.setSeat(plane.point(column, row));
            timing.refusedCalls += session.respond(poses.data(), responses->data() + size_t(column) * size_t(cells));
        }
        inPlugin += Clock::now() - before;
        workers.submit([&map, &coherent, &law, responses, row, columns, cells] {
            for (int column = 0; column < columns; ++column) {
                const SeatSums sums = coherent.all(responses->data() + size_t(column) * size_t(cells), cells, law);
                for (CellSum sum : kEveryCellSum) {
                    for (size_t k = 0; k < map.bands().size(); ++k) {
                        const size_t band = size_t(map.bands()[k]);
                        map.at(map.bandLayer(k, sum), column, row) = float(sums.bandsDb(sum)[band]);
                    }
                    map.at(map.broadbandLayer(sum), column, row) = float(sums.broadbandDbA(sum));
                }
            }
        });
        if (progress) progress->update(long(row + 1) * columns);
    }
    workers.wait();
    if (progress) progress->finish();
    timing.seats = seats;
    timing.responses = seats * cells;
    timing.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timing.pluginSeconds = std::chrono::duration<double>(inPlugin).count();
    return map;
}

bool writeCoverageCsv(const CoverageMap& map, const std::string& path, std::string& error) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    std::fprintf(out, "x_m,y_m");
    for (int layer = 0; layer < map.layerCount(); ++layer) std::fprintf(out, ",%s", map.layerName(layer).c_str());
    std::fprintf(out, "\n");
    const AudiencePlane& plane = map.plane();
    for (int row = 0; row < plane.rows(); ++row) {
        for (int column = 0; column < plane.columns(); ++column) {
            const Vec3 p = plane.point(column, row);
            std::fprintf(out, "%.3f,%.3f", p.x, p.y);
            for (int layer = 0; layer < map.layerCount(); ++layer) {
                std::fprintf(out, ",%.2f", double(map.at(layer, column, row)));
            }
            std::fprintf(out, "\n");
        }
    }
    const bool ok = std::fclose(out) == 0;
    if (!ok) error = "cannot finish writing " + path;
    return ok;
}

}  // namespace arrayhost
