// One QGuiApplication for the whole test program: the on-screen display's text needs it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <memory>

namespace {

class TGuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "pavrel-test";
    static char* argv[] = {name, nullptr};
    FApp = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { FApp.reset(); }

 private:
  std::unique_ptr<QGuiApplication> FApp;
};

[[maybe_unused]] auto* const Registered = ::testing::AddGlobalTestEnvironment(new TGuiEnvironment);

}  // namespace
