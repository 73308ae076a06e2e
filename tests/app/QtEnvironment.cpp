// One QApplication for the whole test binary (on the platform the environment names,
// offscreen for these tests), made before the first test and removed after the last one.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    FApplication = std::make_unique<QApplication>(FArgc, FArgv);
    QApplication::setApplicationName("Pavrel");
  }
  void TearDown() override { FApplication.reset(); }

 private:
  int FArgc = 1;
  char FName[16] = "pavrel-tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApplication;
};

[[maybe_unused]] ::testing::Environment* const QtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
