// Entry of the program tests: the runner (the Linux program, or the Windows
// build under Wine) is checked once before any case runs.
#include <gtest/gtest.h>

#include "sim_support.h"
#include "support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests)) {
        const int unusable = program_runner_unusable();
        if (unusable)
            return unusable;
    }
    // The envelopes the cases expect are those of the program they run.
    use_spt_layout(program_is_64bit());
    return RUN_ALL_TESTS();
}
