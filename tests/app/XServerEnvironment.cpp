// The end-to-end tests' world: a private Xvfb with openbox, DISPLAY pointing at it, and one
// QApplication on the X11 platform for the whole test binary.

#include "XServerEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace pavrel::test {

namespace {

class TXServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Server = std::make_unique<TXServerFixture>();
    Server->ExportDisplay();
    qputenv("QT_QPA_PLATFORM", "xcb");
    Application = std::make_unique<QApplication>(FArgc, FArgv);
    QApplication::setApplicationName("Pavrel");
  }
  void TearDown() override {
    Application.reset();
    Server.reset();
  }

  std::unique_ptr<TXServerFixture> Server;
  std::unique_ptr<QApplication> Application;

 private:
  int FArgc = 1;
  char FName[16] = "pavrel-e2e";
  char* FArgv[2] = {FName, nullptr};
};

TXServerEnvironment* const Environment =
    static_cast<TXServerEnvironment*>(::testing::AddGlobalTestEnvironment(new TXServerEnvironment));

}  // namespace

const TXServerFixture& XServer() {
  return *Environment->Server;
}

}  // namespace pavrel::test
