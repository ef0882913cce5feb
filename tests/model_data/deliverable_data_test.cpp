// The committed data files are what the deliverables carry: each library
// holds its own model's balloons byte for byte and no other model's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acoustics/model_data.h"
#include "models/ktr4.h"
#include "models/qspan.h"

namespace {

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file each kind's balloon was built from: the data folder's, or the
// placeholder's for a kind the folder lacks.
std::vector<char> dataFile(const std::string& kind) {
    return readFile(kind == "ktr" ? MODEL_BALLOON_FILE_KTR
                    : kind == "qsa" ? MODEL_BALLOON_FILE_QSA
                    : kind == "qsb" ? MODEL_BALLOON_FILE_QSB
                                    : MODEL_BALLOON_FILE_QSC);
}

bool holds(const std::vector<char>& library, const std::vector<char>& balloon) {
    return std::search(library.begin(), library.end(), balloon.begin(), balloon.end()) != library.end();
}

}  // namespace

TEST(DeliverableData, LinkedBalloonsAreTheCommittedFiles) {
    const std::pair<const float*, const char*> linked[] = {
        {models::kKtr4.acoustic.balloonDb[0], "ktr"},
        {models::kQspan.acoustic.balloonDb[0], "qsa"},
        {models::kQspan.acoustic.balloonDb[1], "qsb"},
        {models::kQspan.acoustic.balloonDb[2], "qsc"},
    };
    for (const auto& [values, kind] : linked) {
        const std::vector<char> file = dataFile(kind);
        ASSERT_EQ(file.size(), acoustics::kBalloonBytes) << kind;
        EXPECT_EQ(std::memcmp(values, file.data(), file.size()), 0) << kind;
        // The array starts on a 16-byte boundary.
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values) % 16, 0u) << kind;
    }
}

TEST(DeliverableData, EachLibraryCarriesOnlyItsOwnBalloons) {
    const std::vector<char> ktr = dataFile("ktr");
    const std::vector<char> qspanKinds[] = {dataFile("qsa"), dataFile("qsb"), dataFile("qsc")};
    for (const char* path : {KTR2_LIBRARY, KTR4_LIBRARY}) {
        const std::vector<char> library = readFile(path);
        ASSERT_FALSE(library.empty()) << path;
        EXPECT_TRUE(holds(library, ktr)) << path;
        for (const std::vector<char>& kind : qspanKinds) EXPECT_FALSE(holds(library, kind)) << path;
    }
    const std::vector<char> qspan = readFile(QSPAN_LIBRARY);
    ASSERT_FALSE(qspan.empty());
    EXPECT_FALSE(holds(qspan, ktr));
    for (const std::vector<char>& kind : qspanKinds) EXPECT_TRUE(holds(qspan, kind));
}
