#include <gtest/gtest.h>
#include "sim/sim.h"
TEST(SimSmoke, Loads) { sim_reset(); sim_load_default_host(); }
