// Test host: runs the black-box tests against one plug-in, named with
// --plugin=ktr2|ktr4|qspan, loaded from beside this program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "tests/host/plugin_fixture.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--plugin=", 9) == 0) library = argv[i] + 9;
    }
    if (library == nullptr) {
        std::fprintf(stderr, "usage: %s --plugin=ktr2|ktr4|qspan [gtest options]\n", argv[0]);
        return 2;
    }
    try {
        host_test::selectProduct(library);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return RUN_ALL_TESTS();
}
