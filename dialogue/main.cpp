// Program entry: the whole run is the operator's dialogue.
#include "dialogue/dialogue.h"
#include "platform/device.h"

int main(int argc, char** argv) {
    // Before anything can open a file: no file may take a standard stream's
    // place and be read as the operator's answers or written as the console.
    ready_standard_streams();
    return dialogue_main(argc, argv);
}
