// Program entry: the whole run is the operator's dialogue.
#include "dialogue/dialogue.h"

int main(int argc, char** argv) {
    return dialogue_main(argc, argv);
}
