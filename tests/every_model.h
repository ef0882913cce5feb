// The three product models, for native tests that run once per model; each
// instance is named after its deliverable.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"

namespace model_test {

inline const models::ModelDefinition* const kEveryModel[] = {&models::kKtr2, &models::kKtr4, &models::kQspan};

inline std::string modelName(const ::testing::TestParamInfo<const models::ModelDefinition*>& info) {
    return info.param == &models::kKtr2 ? "ktr2" : info.param == &models::kKtr4 ? "ktr4" : "qspan";
}

// A suite whose tests read their model as model().
class EveryModel : public ::testing::TestWithParam<const models::ModelDefinition*> {
protected:
    const models::ModelDefinition& model() const { return *GetParam(); }
};

}  // namespace model_test

// Runs the parameterised suite `suite` once for each model.
#define INSTANTIATE_FOR_EVERY_MODEL(suite) \
    INSTANTIATE_TEST_SUITE_P(Models, suite, ::testing::ValuesIn(model_test::kEveryModel), model_test::modelName)
