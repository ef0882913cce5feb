// IP_ShowDialog: the plug-in's own editor of an instance's cells.
#include <optional>

#include "plugin/bound_state.h"

#if defined(_WIN32)
#include <windows.h>

#include "dialog/setup_dialog_win.h"
#endif

using plugin::ExportScope;
using plugin::Instance;

PLUGIN_API int32_t PLUGIN_CALL IP_ShowDialog(void* /*owner*/) noexcept {
    std::optional<ExportScope> scope(std::in_place);
#if defined(_WIN32)
    plugin::InstanceTable& table = plugin::gState.instances;
    const int32_t id = table.currentId();
    const Instance* opened = table.find(id);
    if (opened == nullptr) return -1;
    // What identifies the array being edited: its slot, the slot's
    // allocation and whether it is in use.
    const uint32_t allocation = table.allocations(id);
    const bool inUse = opened->inUse;

    const models::ModelDefinition& model = plugin::gState.model;
    dialog::SetupCell cells[models::kCellCapacity] = {};
    const int32_t count = opened->cellCount < 0 ? 0
                          : opened->cellCount > models::kCellCapacity ? models::kCellCapacity
                                                                      : opened->cellCount;
    for (int32_t i = 0; i < count; ++i) cells[i] = {opened->cells[i].kind, opened->cells[i].splayDeg};
    dialog::SetupDialog setup(model);
    setup.fill(count, cells);

    // The modal loop also runs the host's own code (its timers, the redraw of
    // its windows): in the host's floating-point state. Each message to the
    // dialog opens a scope of its own. Owned by the host's active window, the
    // dialog keeps the host's windows from taking input while it runs.
    scope.reset();
    const bool accepted = setup.run(GetActiveWindow());
    // Entered after the loop, so that on return the host keeps the state, and
    // the flags, its code left in the loop.
    scope.emplace();
    if (!accepted) return 0;

    // The host may have made another array current while the dialog ran, or
    // released or reused this one's slot: the cells go to the array they were
    // read from, and to no other.
    Instance* target = table.find(id);
    if (target->inUse != inUse || table.allocations(id) != allocation) return 0;
    const int32_t edited = setup.cellCount();
    target->cellCount = edited;
    for (int32_t n = 1; n <= edited; ++n) {
        if (model.cellsCarryKind) target->cells[n - 1].kind = setup.cell(n).kind;
        target->cells[n - 1].splayDeg = setup.cell(n).splayDeg;
    }
    return 0;
#else
    // No window system in the native build: nothing is shown or changed.
    return -1;
#endif
}
