#include "tests/framework/framework_test.h"

// Registered before main runs: gtest_main then sets it up around all tests.
static ::testing::Environment* const g_root = ::testing::AddGlobalTestEnvironment(new TemporaryMachineRoot);
