// IP_ShowDialog: the plug-in's own editor of an instance's cells.
#include "plugin/bound_state.h"

#if defined(_WIN32)
#include "dialog/setup_dialog_win.h"
#endif

using plugin::ExportScope;
using plugin::Instance;
using plugin::onCurrentInstance;

PLUGIN_API int32_t PLUGIN_CALL IP_ShowDialog(void* /*owner*/) noexcept {
    ExportScope scope;
#if defined(_WIN32)
    return onCurrentInstance([](Instance& instance) {
        const models::ModelDefinition& model = plugin::gState.model;
        dialog::SetupCell cells[models::kCellCapacity] = {};
        const int32_t count = instance.cellCount < 0 ? 0
                              : instance.cellCount > models::kCellCapacity ? models::kCellCapacity
                                                                           : instance.cellCount;
        for (int32_t i = 0; i < count; ++i) {
            cells[i] = {instance.cells[i].kind, instance.cells[i].splayDeg};
        }

        dialog::SetupDialog setup(model);
        setup.fill(count, cells);
        if (!setup.run()) return 0;

        // The host's thread may have selected another instance while the
        // dialog ran; the cells go to the one current now.
        Instance* target = plugin::gState.instances.current();
        if (target == nullptr) return 0;
        const int32_t edited = setup.cellCount();
        target->cellCount = edited;
        for (int32_t n = 1; n <= edited; ++n) {
            if (model.cellsCarryKind) target->cells[n - 1].kind = setup.cell(n).kind;
            target->cells[n - 1].splayDeg = setup.cell(n).splayDeg;
        }
        return 0;
    });
#else
    // No window system in the native build: nothing is shown or changed.
    return -1;
#endif
}
