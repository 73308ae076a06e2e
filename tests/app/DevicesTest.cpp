// The Source menu's device items, on fake capture devices that the video tests provide.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "FakeDevices.h"
#include "VideoTestSupport.h"
#include "app/MainDialog.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel {
namespace {

using test::TRecordedMessages;
using test::TTemporaryStore;
using test::WaitFor;

class DevicesTest : public ::testing::Test {
 protected:
  void SetUp() override { test::InstallFakeDevices(); }
  void TearDown() override {
    Window.reset();
    test::SetFakeDevices({});
  }

  void Start(std::vector<test::TFakeDevice> Devices) {
    test::SetFakeDevices(std::move(Devices));
    const TMainDialogOptions options = test::RecordingOptions(Messages);
    Window = std::make_unique<TMainDialog>(options);
  }

  QList<QAction*> DeviceItems() const { return Window->DeviceMenu->actions().mid(4); }

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TMainDialog> Window;
};

TEST_F(DevicesTest, NoDevicesLeaveOnlyTheFixedItems) {
  Start({});
  EXPECT_EQ(Window->DeviceMenu->actions().size(), 4);
  EXPECT_TRUE(DeviceItems().isEmpty());
}

TEST_F(DevicesTest, OneItemPerDeviceInOrderTaggedFromZeroAndSelectingOneStartsTheVideo) {
  test::TFakeDevice first = test::CameraRaw();
  first.Name = "Studio & Desk Camera";  // an ampersand is shown, not taken as a mnemonic
  Start({first, test::CameraJpeg()});
  const QList<QAction*> items = DeviceItems();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0]->data().toInt(), 0);
  EXPECT_EQ(items[1]->data().toInt(), 1);
  EXPECT_EQ(items[0]->text(), "Studio && Desk Camera");
  EXPECT_EQ(items[0]->iconText(), "Studio & Desk Camera");
  EXPECT_EQ(items[1]->text().toStdString(), test::CameraJpeg().Name);

  items[1]->trigger();
  EXPECT_TRUE(Window->Timer->isActive());
  EXPECT_TRUE(Window->TrackerMenuItem->menuAction()->isEnabled());
  EXPECT_TRUE(WaitFor([&] { return Window->FramesHandled() > 5; }, 10000));
  // Another device replaces the first.
  items[0]->trigger();
  const auto handled = Window->FramesHandled();
  EXPECT_TRUE(WaitFor([&] { return Window->FramesHandled() > handled + 5; }, 10000));
  EXPECT_EQ(Messages.Count(), 0u);
  Window->StopVideoMenuItem->trigger();
  EXPECT_FALSE(Window->Timer->isActive());
}

TEST_F(DevicesTest, ACaptureFormatFailureIsShownWithoutOwnerAndTheVideoStillRuns) {
  Start({test::CameraRefusing(), test::CameraVp8()});
  DeviceItems()[0]->trigger();
  ASSERT_EQ(Messages.Count(), 1u);
  auto entry = Messages.Entries()[0];
  EXPECT_EQ(entry.Kind, TMessageKind::OwnerlessError);
  EXPECT_FALSE(entry.Owned);
  EXPECT_TRUE(Window->Timer->isActive());
  EXPECT_TRUE(WaitFor([&] { return Window->FramesHandled() > 5; }, 10000));

  // No capability fits at all: the box says so (not implemented) and the video still starts.
  DeviceItems()[1]->trigger();
  ASSERT_EQ(Messages.Count(), 2u);
  entry = Messages.Entries()[1];
  EXPECT_EQ(entry.Kind, TMessageKind::OwnerlessError);
  EXPECT_TRUE(entry.Text.contains("80004001")) << entry.Text.toStdString();
  EXPECT_TRUE(Window->TrackerMenuItem->menuAction()->isEnabled());
}

}  // namespace
}  // namespace pavrel
