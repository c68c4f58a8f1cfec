// The one QApplication of the executor's test program.
#include "executor_fixture.h"

[[maybe_unused]] ::testing::Environment* const kApp =
    ::testing::AddGlobalTestEnvironment(std::make_unique<executor_test::QtAppEnvironment>().release());
