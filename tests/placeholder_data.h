// Tests that pin published values of the placeholder data run only on a
// build that carries them; the invariants every balloon and table must
// satisfy run on whatever data the build carries (MODEL_DATA_DIR).
#pragma once

#include <gtest/gtest.h>

#include "models/imported_tables.h"

#define SKIP_UNLESS_PLACEHOLDER_DATA()                                                   \
    do {                                                                                 \
        if (!MODEL_DATA_IS_PLACEHOLDER) GTEST_SKIP() << "pins the placeholder data";     \
    } while (0)
