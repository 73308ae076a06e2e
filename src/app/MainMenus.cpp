// The main window's widgets, menus and popup menu.

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <string>
#include <string_view>

#include "app/Fonts.h"
#include "app/MainDialog.h"
#include "app/PointerDialog.h"
#include "app/ViewWidgets.h"
#include "desktop/DesktopFactory.h"

namespace pavrel {

namespace {
constexpr int kFrameWidth = 160;
constexpr int kFrameHeight = 120;
}  // namespace

void TMainDialog::BuildLayout() {
  ClientArea = new QWidget(this);
  ClientArea->setObjectName("ClientArea");
  ClientArea->setFixedSize(345, 241);
  setCentralWidget(ClientArea);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  VideoDisplay = new QGroupBox(tr("Video"), ClientArea);
  VideoDisplay->setObjectName("VideoDisplay");
  VideoDisplay->setGeometry(0, 0, 345, 169);

  RawVideo = new TRawVideoWidget(VideoDisplay);
  RawVideo->setObjectName("RawVideo");
  RawVideo->setGeometry(8, 16, kFrameWidth, kFrameHeight);

  RenderedImage = new TRenderedImageWidget(VideoDisplay);
  RenderedImage->setObjectName("RenderedImage");
  RenderedImage->setGeometry(177, 16, kFrameWidth, kFrameHeight);
  RenderedImage->SetOnClick([this] { Guarded([this] { RenderedImageClick(); }); });

  RawVideoStream = new QLabel(tr("Raw Video Stream"), VideoDisplay);
  RawVideoStream->setObjectName("RawVideoStream");
  RawVideoStream->setGeometry(8, 144, 161, 13);
  RawVideoStream->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  RenderedVideoStream = new QLabel(tr("Rendered Video Stream"), VideoDisplay);
  RenderedVideoStream->setObjectName("RenderedVideoStream");
  RenderedVideoStream->setGeometry(176, 144, 161, 13);
  RenderedVideoStream->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  MouseActionDisplay = new QGroupBox(tr("Mouse Action"), ClientArea);
  MouseActionDisplay->setObjectName("MouseActionDisplay");
  MouseActionDisplay->setGeometry(0, 176, 345, 65);

  ActionDisplay =
      new QLabel(QCoreApplication::translate("Action", "No Action"), MouseActionDisplay);
  ActionDisplay->setObjectName("ActionDisplay");
  ActionDisplay->setGeometry(8, 16, 329, 41);
  ActionDisplay->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  ActionDisplay->setFont(SansSerifFont(kActionFontHeight, true));

  setTabOrder(VideoDisplay, MouseActionDisplay);

  DesktopStatus = new QLabel(this);
  DesktopStatus->setObjectName("DesktopStatus");
  DesktopStatus->setWordWrap(true);
  DesktopStatus->setMaximumWidth(345);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(DesktopStatus, 1);

  FCountdownTimer = new QTimer(this);
  FCountdownTimer->setInterval(1000);
  connect(FCountdownTimer, &QTimer::timeout, this,
          [this] { Guarded([this] { CountdownTick(); }); });
  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });

  FWatchdog = new QTimer(this);
  FWatchdog->setInterval(250);
  connect(FWatchdog, &QTimer::timeout, this, [this] { WatchdogTick(); });

  OpenDialog = new QFileDialog(this);
  OpenDialog->setObjectName("OpenDialog");
  OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setFileMode(QFileDialog::ExistingFile);

  SaveDialog = new QFileDialog(this);
  SaveDialog->setObjectName("SaveDialog");
  SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog->setFileMode(QFileDialog::AnyFile);
}

void TMainDialog::BuildMenus() {
  auto command = [this](QMenu* Menu, const char* Name, const QString& Caption,
                        void (TMainDialog::*Handler)()) {
    QAction* action = Menu->addAction(Caption);
    action->setObjectName(Name);
    connect(action, &QAction::triggered, this,
            [this, Handler] { Guarded([this, Handler] { (this->*Handler)(); }); });
    return action;
  };
  auto separator = [](QMenu* Menu, const char* Name) {
    QAction* action = Menu->addSeparator();
    action->setObjectName(Name);
    return action;
  };

  MainMenu = menuBar();
  MainMenu->setObjectName("MainMenu");
  // The menu bar belongs to the window on every platform, as the window's size assumes.
  MainMenu->setNativeMenuBar(false);

  File1 = MainMenu->addMenu(tr("File"));
  File1->setObjectName("File1");
  OpenSettings1 =
      command(File1, "OpenSettings1", tr("Open Settings..."), &TMainDialog::OpenSettings1Click);
  SaveSettings1 =
      command(File1, "SaveSettings1", tr("Save Settings..."), &TMainDialog::SaveSettings1Click);
  N1 = separator(File1, "N1");
  Exit1 = command(File1, "Exit1", tr("Exit"), &TMainDialog::Exit1Click);

  TrackerMenuItem = MainMenu->addMenu(tr("Tracker"));
  TrackerMenuItem->setObjectName("TrackerMenuItem");
  StartTrackingMenuItem = command(TrackerMenuItem, "StartTrackingMenuItem", tr("Start Tracking"),
                                  &TMainDialog::StartTrackingMenuItemClick);
  StopTrackingMenuItem = command(TrackerMenuItem, "StopTrackingMenuItem", tr("Stop Tracking"),
                                 &TMainDialog::StopTrackingMenuItemClick);
  StopTrackingMenuItem->setEnabled(false);
  CalibrateHandMenuItem = command(TrackerMenuItem, "CalibrateHandMenuItem", tr("Calibrate Hand"),
                                  &TMainDialog::CalibrateHandMenuItemClick);
  CalibrateHandMenuItem->setCheckable(true);
  SetTrackerMenuEnabled(false);

  Configuration1 = MainMenu->addMenu(tr("Configuration"));
  Configuration1->setObjectName("Configuration1");
  AdjustTrackerParameters1 =
      command(Configuration1, "AdjustTrackerParameters1", tr("Adjust Tracker Parameters..."),
              &TMainDialog::AdjustTrackerParameters1Click);
  PointerSettings1 = command(Configuration1, "PointerSettings1", "Pointer...",
                             &TMainDialog::PointerSettings1Click);
  // Switched on and off from the keyboard too, since the pointer may be all a user cannot
  // reach; the shortcut works wherever the window has the focus.
  DwellClickMenuItem = command(Configuration1, "DwellClickMenuItem", "Dwell Click",
                               &TMainDialog::DwellClickMenuItemClick);
  DwellClickMenuItem->setCheckable(true);
  DwellClickMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  DwellClickMenuItem->setShortcutContext(Qt::ApplicationShortcut);
  addAction(DwellClickMenuItem);
  FPointerDialog = new TPointerDialog(
      this, [this](const TPointerSettings& S) { ApplyPointerSettings(S); },
      [this](const TPointerSettings& S) { KeepPointerSettings(S); });
  HandDetectorMenuItem = command(Configuration1, "HandDetectorMenuItem", "Use Hand Detector",
                                 &TMainDialog::HandDetectorMenuItemClick);
  HandDetectorMenuItem->setCheckable(true);

  DeviceMenu = MainMenu->addMenu(tr("Source"));
  DeviceMenu->setObjectName("DeviceMenu");
  StopVideoMenuItem = command(DeviceMenu, "StopVideoMenuItem", tr("Stop Video"),
                              &TMainDialog::StopVideoMenuItemClick);
  N5 = separator(DeviceMenu, "N5");
  File2 = command(DeviceMenu, "File2", tr("File..."), &TMainDialog::File2Click);
  N2 = separator(DeviceMenu, "N2");

  Help1 = MainMenu->addMenu(tr("Help"));
  Help1->setObjectName("Help1");
  About1 = command(Help1, "About1", tr("About"), &TMainDialog::About1Click);

  // After the existing items: the menu bar keeps its five menus.
  DesktopMenu = Configuration1->addMenu("Desktop");
  DesktopMenu->setObjectName("DesktopMenu");
  DesktopGroup = new QActionGroup(this);
  DesktopGroup->setExclusive(true);
  const TDesktopKind stored = StoredDesktopChoice();
  for (const TDesktopKind kind : {TDesktopKind::Auto, TDesktopKind::X11, TDesktopKind::Portal,
                                  TDesktopKind::Wlroots, TDesktopKind::Uinput}) {
    const std::string_view caption = DesktopKindCaption(kind);
    QAction* item =
        DesktopMenu->addAction(QString::fromUtf8(caption.data(), static_cast<int>(caption.size())));
    item->setObjectName(QString("Desktop_") + DesktopKindName(kind).data());
    item->setCheckable(true);
    item->setChecked(kind == stored);
    DesktopGroup->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, kind] { Guarded([this, kind] { OnSelectDesktop(kind); }); });
  }

  VideoPopupMenu = new QMenu(this);
  VideoPopupMenu->setObjectName("VideoPopupMenu");
  SaveCurrentImagetoBitmap1 =
      command(VideoPopupMenu, "SaveCurrentImagetoBitmap1", tr("Save Frame To Bitmap..."),
              &TMainDialog::SaveCurrentImagetoBitmap1Click);
  N3 = separator(VideoPopupMenu, "N3");
  ViewModeGroup = new QActionGroup(this);
  ViewModeGroup->setExclusive(true);
  RGBImageItem =
      command(VideoPopupMenu, "RGBImageItem", tr("RGB Video"), &TMainDialog::RGBImageItemClick);
  HueImageItem =
      command(VideoPopupMenu, "HueImageItem", tr("Hue Video"), &TMainDialog::HueImageItemClick);
  HandImageItem = command(VideoPopupMenu, "HandImageItem", tr("Back Projection Video"),
                          &TMainDialog::HandImageItemClick);
  for (QAction* item : {RGBImageItem, HueImageItem, HandImageItem}) {
    item->setCheckable(true);
    ViewModeGroup->addAction(item);
  }
  RGBImageItem->setChecked(true);
  N6 = separator(VideoPopupMenu, "N6");
  OnScreenDisplayMenuItem =
      command(VideoPopupMenu, "OnScreenDisplayMenuItem", tr("On Screen Display"),
              &TMainDialog::OnScreenDisplayMenuItemClick);
  OnScreenDisplayMenuItem->setCheckable(true);
  OnScreenDisplayMenuItem->setChecked(true);
  RenderedImage->SetPopupMenu(VideoPopupMenu);
  BuildSessionMenu();
}

}  // namespace pavrel
