// What the arrayhost tests that run the real plug-in share: a scenario from
// text, a session of its plug-in set up for it, and design options without
// the progress bar.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tools/arrayhost/design.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace arrayhost::test {

inline Scenario scenarioOf(const std::string& text) {
    ScenarioError error;
    auto s = parseScenario(text, "test-scenario.txt", error);
    EXPECT_TRUE(s.has_value()) << error.message();
    return s ? *s : Scenario{};
}

inline std::unique_ptr<Session> sessionFor(const Scenario& scenario, const Session::ExportWrapper& wrap = {}) {
    std::string error;
    auto session = Session::open(scenario.plugin, error, wrap);
    EXPECT_TRUE(session && session->setUp(scenario, error)) << error;
    return session;
}

inline DesignOptions quiet() {
    DesignOptions options;
    options.showProgress = false;
    return options;
}

}  // namespace arrayhost::test
