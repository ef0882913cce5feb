// A fresh copy of the plug-in under test for every test, loaded the way the
// host loads it, and what the test expects of that product.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tools/host/plugin_library.h"

namespace host_test {

// Facts about each product, written down independently of the build.
struct Product {
    std::string library;  // ktr2, ktr4, qspan
    const char* displayName;
    bool sharesEntryPoints;
    bool cellsCarryKind;
};

// The product named by --plugin on the command line.
const Product& productUnderTest();
void selectProduct(const std::string& library);

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { plugin.reset(); }

    const Product& product() const { return productUnderTest(); }

    std::unique_ptr<host::PluginLibrary> plugin;
};

}  // namespace host_test
