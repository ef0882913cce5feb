#include "tests/host/plugin_fixture.h"

#include <stdexcept>

namespace host_test {

namespace {

const Product kProducts[] = {
    {"ktr2", "VESTRA KTR2 Array", false, false},
    {"ktr4", "VESTRA KTR4 Array", true, false},
    {"qspan", "Q.SPAN Array", true, true},
};

const Product* gSelected = nullptr;

}  // namespace

void selectProduct(const std::string& library) {
    for (const Product& p : kProducts) {
        if (p.library == library) {
            gSelected = &p;
            return;
        }
    }
    throw std::invalid_argument("unknown plug-in: " + library);
}

const Product& productUnderTest() {
    if (gSelected == nullptr) throw std::logic_error("no --plugin given");
    return *gSelected;
}

void PluginTest::SetUp() {
    plugin.reset();  // a reload must really unload first
    std::string error;
    plugin = host::PluginLibrary::open(host::pluginPath(product().library), error);
    ASSERT_NE(plugin, nullptr) << error;
}

}  // namespace host_test
