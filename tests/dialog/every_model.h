// Runs a test once per product model, named after the deliverable.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"

namespace dialog_test {

class EveryModel : public ::testing::TestWithParam<const models::ModelDefinition*> {
protected:
    const models::ModelDefinition& model() const { return *GetParam(); }
};

inline std::string modelName(const ::testing::TestParamInfo<const models::ModelDefinition*>& info) {
    return info.param == &models::kKtr2   ? "ktr2"
           : info.param == &models::kKtr4 ? "ktr4"
                                          : "qspan";
}

}  // namespace dialog_test

#define INSTANTIATE_FOR_EVERY_MODEL(Suite)                                             \
    INSTANTIATE_TEST_SUITE_P(Models, Suite,                                            \
                             ::testing::Values(&models::kKtr2, &models::kKtr4,        \
                                               &models::kQspan),                      \
                             dialog_test::modelName)
