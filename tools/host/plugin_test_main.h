// The main of the GoogleTest programs that run against one plug-in, named on
// the command line:
//
//   <program> --plugin=ktr2|ktr4|qspan [gtest options]
//
// A program links the plugin_test_main library instead of writing a main.
#pragma once

#include "tools/host/product.h"

namespace host {

// The product named by --plugin=; throws std::logic_error before main has
// read it.
const Product& productUnderTest();

}  // namespace host
