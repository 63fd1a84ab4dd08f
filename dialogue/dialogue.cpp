// Placeholder until the dialogue lands.
#include "dialogue/dialogue.h"

int dialogue_main(int, char**) { return 0; }
