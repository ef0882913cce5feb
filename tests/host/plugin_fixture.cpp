#include "tests/host/plugin_fixture.h"

namespace host_test {

void PluginTest::SetUp() {
    plugin.reset();  // a reload must really unload first
    std::string error;
    plugin = host::PluginLibrary::open(host::pluginPath(product().library), error);
    ASSERT_NE(plugin, nullptr) << error;
}

}  // namespace host_test
