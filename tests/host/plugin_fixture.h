// A fresh copy of the plug-in under test for every test, loaded the way the
// host loads it, and what the test expects of that product.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tools/host/plugin_library.h"
#include "tools/host/plugin_test_main.h"
#include "tools/host/product.h"

namespace host_test {

using host::Product;

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { plugin.reset(); }

    const Product& product() const { return host::productUnderTest(); }

    std::unique_ptr<host::PluginLibrary> plugin;
};

}  // namespace host_test
