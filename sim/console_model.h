// The console model of the in-process tests (sim_set_console): what the key
// wait sees in place of the host's own console. It depends on nothing of the
// storage stack; the stack forgets it on a reset.
#pragma once

struct ConsoleModel {
    int attached = 0; // standard input is an interactive console
    int keys = 0;     // key presses waiting
};

// The model set for tests, or null when none is set and the key wait uses
// the host's own console.
ConsoleModel* console_model();

// Forgets the model.
void console_sim_reset();
