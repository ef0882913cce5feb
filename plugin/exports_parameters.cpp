// Room and input parameter exports.
#include "plugin/bound_state.h"
#include "plugin/descriptor.h"

using plugin::ExportScope;
