// Program entry: the whole run is the operator's dialogue.
#include "dialogue/dialogue.h"
#include "platform/device.h"
#include "platform/files.h"

int main(int argc, char** argv) {
    // Before anything can open a file: no file may take a standard stream's
    // place and be read as the operator's answers or written as the console.
    ready_standard_streams();
    // Texts for the record (an operator's name, an asset tag) keep every
    // character only in the wide command line.
    utf8_arguments(&argc, &argv);
    return dialogue_main(argc, argv);
}
