#include "tools/host/plugin_test_main.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace host {

namespace {

const Product* gUnderTest = nullptr;

}  // namespace

const Product& productUnderTest() {
    if (gUnderTest == nullptr) throw std::logic_error("no --plugin given");
    return *gUnderTest;
}

}  // namespace host

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--plugin=", 9) == 0) library = argv[i] + 9;
    }
    if (library == nullptr) {
        std::fprintf(stderr, "usage: %s --plugin=%s [gtest options]\n", argv[0], host::productNames("|").c_str());
        return 2;
    }
    host::gUnderTest = host::findProduct(library);
    if (host::gUnderTest == nullptr) {
        std::fprintf(stderr, "unknown plug-in: %s\n", library);
        return 2;
    }
    return RUN_ALL_TESTS();
}
