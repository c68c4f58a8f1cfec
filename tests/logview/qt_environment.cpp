// The application object for every test of this program.
#include "tests/support/QtTestSupport.h"

namespace {
// gtest owns the environment it is given.
[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment);
}  // namespace
