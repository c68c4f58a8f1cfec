// The application object for every desktop test: on the X server of DISPLAY, with the manager's
// title, as the program sets it.
#include "tests/support/QtTestSupport.h"

namespace {

class DesktopEnvironment : public testsupport::QtEnvironment {
 public:
  DesktopEnvironment() : QtEnvironment("xcb") {}
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through scripts/with-desktop.sh";
    QtEnvironment::SetUp();
    App().SetTitle("Планировщик задач");
  }
};

// gtest owns the environment it is given.
[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

}  // namespace
