// Tests that pin published values of the placeholder data run only where the
// build carries them, kind by kind: a data folder may measure some kinds and
// leave the others on their placeholders. The invariants every balloon and
// table must satisfy run on whatever data the build carries (MODEL_DATA_DIR).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "models/imported_tables.h"

namespace placeholder_data {

// Whether a cabinet kind ("KTR", "QSA", "QSB", "QSC") carries its placeholder.
inline bool kind(const std::string& name) {
    return name == "KTR"   ? MODEL_DATA_IS_PLACEHOLDER_KTR
           : name == "QSA" ? MODEL_DATA_IS_PLACEHOLDER_QSA
           : name == "QSB" ? MODEL_DATA_IS_PLACEHOLDER_QSB
           : name == "QSC" ? MODEL_DATA_IS_PLACEHOLDER_QSC
                           : false;
}

// Whether every kind of a product ("ktr2", "ktr4", "qspan") does.
inline bool product(const std::string& library) {
    if (library == "qspan") return kind("QSA") && kind("QSB") && kind("QSC");
    return kind("KTR");
}

}  // namespace placeholder_data

// Skips unless each kind named carries its placeholder.
#define SKIP_UNLESS_PLACEHOLDER_KINDS(...)                                                          \
    do {                                                                                            \
        for (const char* pinned : {__VA_ARGS__})                                                    \
            if (!placeholder_data::kind(pinned)) GTEST_SKIP() << "pins the placeholder of " << pinned; \
    } while (0)
