// What the validator expects of each product: the host kit's table, written
// down from the plug-in's contract rather than read from the build, so that a
// build bound to the wrong model definition is caught.
#pragma once

#include "tools/host/product.h"

namespace validator {

using host::findProduct;
using host::kBandCount;
using host::kCellCapacity;
using host::kFacesPerCell;
using host::kSetupHeaderBytes;
using host::kSlotCount;
using host::kVerticesPerCell;
using host::Product;

}  // namespace validator
