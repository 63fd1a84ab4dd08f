// The console model of the in-process tests (sim_set_console).
#include "sim/sim.h"

#include "sim/console_model.h"

namespace {

bool g_model_set = false;
ConsoleModel g_model;

} // namespace

void console_sim_reset() {
    g_model_set = false;
    g_model = ConsoleModel();
}

void sim_set_console(int attached, int keys) {
    g_model_set = true;
    g_model.attached = attached ? 1 : 0;
    g_model.keys = keys;
}

ConsoleModel* console_model() {
    return g_model_set ? &g_model : nullptr;
}
