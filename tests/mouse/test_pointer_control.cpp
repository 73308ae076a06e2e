// Pointer control: settings and their store texts, the One Euro filter, the defaults that
// keep the original pointer, clicks that stay put, dwell click, the pause gesture, gain and
// region, relative mode and monitors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "mouse/MouseTranslator.h"
#include "mouse/OneEuroFilter.h"
#include "mouse/PointerSettings.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr double Up1 = 81585.0, Up2 = 9.133;
constexpr double Down1 = 76069.56521739131, Down2 = 16.62173913043478;
const TRect HandWindow{40, 30, 80, 90};
const TRect WholePicture{0, 0, 160, 120};  // the tracker's home: no hand

// A translator on a recording desktop whose clock the test moves on by 1/30 s per frame.
struct TRig {
  explicit TRig(const TPointerSettings& Settings = {}) : Translator(5, 160, 120, &Desktop) {
    Translator.SetClock([this] { return Now; });
    Translator.SetPointerSettings(Settings);
  }
  // The open hand's Mouse Up made current, and the calls so far forgotten.
  void Start(TPoint Centre = {60, 80}) {
    for (int i = 0; i < 3; ++i) {
      Frame(Centre);
    }
    Desktop.ClearCalls();
  }
  // One frame of a pose at a centre; answers the debounced code.
  std::int32_t Frame(TPoint Centre, bool Down = false, TRect Window = HandWindow,
                     bool Active = true) {
    Now += 1.0 / 30;
    Translator.AddTrackerResult(Centre, Window, 0.0, Down ? Down1 : Up1, Down ? Down2 : Up2, 0, 0);
    TMouseAction action;
    Translator.Translate(Active, action);
    return action.Action;
  }
  std::vector<std::string> Buttons() const { return Desktop.ActionsWithoutMoves(); }
  std::array<std::int32_t, 2> Pointer() const { return Translator.PointerState().Pointer.value(); }

  double Now = 100.0;
  TRecordingDesktop Desktop;
  TMouseTranslator Translator;
};

double PixelDistance(std::array<std::int32_t, 2> A, std::array<std::int32_t, 2> B) {
  return std::hypot((A[0] - B[0]) * 1920.0 / 65536, (A[1] - B[1]) * 1080.0 / 65536);
}

TEST(PointerSettingsStore, EverySettingRoundTripsThroughItsStoreText) {
  TPointerSettings changed;
  changed.Filter = pfOneEuro;
  changed.OneEuroMinCutoff = 0.3;
  changed.OneEuroBeta = 0.0123;
  changed.HoldOnClick = true;
  changed.ClickDeadZone = 17.5;
  changed.DwellAction = daDragToggle;
  changed.RegionOffsetX = -12.25;
  changed.Monitor = pmDesktop;
  const auto values = PointerSettingValues(changed);
  EXPECT_EQ(values.size(), PointerSettingInfos().size());
  EXPECT_EQ(values.at("PointerFilter"), "1");
  EXPECT_EQ(values.at("OneEuroBeta"), "0.0123");
  EXPECT_EQ(values.at("PointerMonitor"), "-1");
  TPointerSettings read;
  ReadPointerSettingValues(values, read);
  EXPECT_EQ(read, changed);
}

TEST(PointerSettingsStore, BadTextsLeaveTheSettingAndApplyNamesWhatIsWrong) {
  TPointerSettings s;
  ReadPointerSettingValues({{"PointerFilter", "7"},
                            {"OneEuroBeta", "abc"},
                            {"DwellTime", "1.5"},
                            {"OneEuroMinCutoff", "nan"},
                            {"LHueBound", "3"},
                            {"DwellRadius", "42"}},
                           s);
  TPointerSettings expected;
  expected.DwellRadius = 42;
  EXPECT_EQ(s, expected);

  EXPECT_THROW(ApplyPointerSetting(s, "Nope", "1"), std::invalid_argument);
  try {
    ApplyPointerSetting(s, "PointerFilter", "2");
    FAIL() << "out of range accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("PointerFilter needs a whole number in 0..1"));
  }
  EXPECT_THROW(ApplyPointerSetting(s, "HoldOnClick", "yes"), std::invalid_argument);
  EXPECT_THROW(ApplyPointerSetting(s, "OneEuroBeta", ""), std::invalid_argument);
  ApplyPointerSetting(s, "OneEuroBeta", "0.25");
  EXPECT_EQ(s.OneEuroBeta, 0.25);
  EXPECT_TRUE(IsPointerSetting("DwellClick"));
  EXPECT_FALSE(IsPointerSetting("LHueBound"));
}

// The published definition: alpha = 1 / (1 + tau / Te), tau = 1 / (2 pi fc); the speed is
// taken against the previous filtered value and smoothed at dcutoff; the cutoff is
// mincutoff + beta |speed|. Worked by hand for mincutoff 1, beta 0.1, dcutoff 1, Te 1/30:
// second sample: dx = 300, edx = 0.173171 * 300 = 51.95, fc = 6.195, alpha = 0.564745.
TEST(OneEuroFilter, FollowsThePublishedDefinitionOnKnownInputs) {
  EXPECT_NEAR(TOneEuroFilter::Alpha(1.0, 1.0 / 30), 0.17317071954915414, 1e-15);
  TOneEuroFilter f;
  f.SetParameters(1.0, 0.1, 1.0);
  EXPECT_EQ(f.Filter(0, 0), 0);  // the first sample passes
  EXPECT_NEAR(f.Filter(10, 1.0 / 30), 5.64744899362341, 1e-12);
  EXPECT_NEAR(f.Filter(10, 2.0 / 30), 8.31470733043863, 1e-12);
  EXPECT_NEAR(f.Filter(4, 3.0 / 30), 6.300689906062237, 1e-12);

  // Without beta it is a fixed exponential filter at mincutoff.
  TOneEuroFilter plain;
  plain.SetParameters(1.0, 0.0, 1.0);
  plain.Filter(0, 0);
  const double a = TOneEuroFilter::Alpha(1.0, 1.0 / 30);
  EXPECT_NEAR(plain.Filter(1, 1.0 / 30), a, 1e-15);
  EXPECT_NEAR(plain.Filter(1, 2.0 / 30), a + (1 - a) * a, 1e-15);
  // A repeated timestamp counts as one frame later instead of dividing by zero.
  EXPECT_TRUE(std::isfinite(plain.Filter(5, 2.0 / 30)));
}

TEST(OneEuroFilter, StillSignalsAreSmoothedAndFastOnesFollowClosely) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  TOneEuroFilter still;
  still.SetParameters(0.5, 0.05, 1.0);
  double previous = still.Filter(50, 0);
  double movement = 0;
  for (int i = 1; i <= 300; ++i) {
    const double out = still.Filter(50 + noise(random), i / 30.0);
    movement += std::fabs(out - previous);
    previous = out;
  }
  EXPECT_LT(movement / 300, 0.15) << "raw noise moves about 0.67 per frame";

  // At 90 units per second the lag behind a ramp shrinks as beta grows.
  const auto lagAt = [](double Beta) {
    TOneEuroFilter f;
    f.SetParameters(0.5, Beta, 1.0);
    double out = 0;
    for (int i = 0; i <= 90; ++i) {
      out = f.Filter(3.0 * i, i / 30.0);
    }
    return 3.0 * 90 - out;
  };
  EXPECT_GT(lagAt(0.0), 20.0);
  EXPECT_LT(lagAt(0.05), 3.0);
}

// Today's pointer, worked independently: the integer mean of the four centres before the
// newest, mapped by (c - 10) / 160 * 1.14 * 65535 and (r - 10) / 120 * 1.2 * 65535.
TEST(PointerDefaults, DefaultsSendExactlyTheOriginalPointerOnAWanderingHand) {
  TRig rig;
  std::mt19937 random(11);
  std::uniform_int_distribution<int> step(-3, 3);
  std::vector<TPoint> centres(4, TPoint{-1, -1});
  TPoint c{60, 80};
  for (int i = 0; i < 400; ++i) {
    c = {std::clamp(c.Row + step(random), 0, 119), std::clamp(c.Column + step(random), 0, 159)};
    const bool down = (i / 13) % 3 == 0;
    rig.Frame(c, down, i % 50 == 0 ? WholePicture : HandWindow);
    std::int64_t rows = 0, columns = 0;
    for (const TPoint& p : centres) {
      rows += p.Row;
      columns += p.Column;
    }
    const double x = static_cast<double>(columns / 4 - 10) / 160 * 1.14 * 65535;
    const double y = static_cast<double>(rows / 4 - 10) / 120 * 1.2 * 65535;
    ASSERT_EQ(rig.Pointer(),
              (std::array<std::int32_t, 2>{static_cast<std::int32_t>(RoundHalfEven(x)),
                                           static_cast<std::int32_t>(RoundHalfEven(y))}))
        << "frame " << i;
    EXPECT_FALSE(rig.Translator.PointerState().Held);
    EXPECT_LT(rig.Translator.PointerState().DwellProgress, 0);
    centres.erase(centres.begin());
    centres.push_back(c);
  }
  for (const std::string& call : rig.Desktop.Actions()) {
    ASSERT_EQ(call.rfind("MovePointerIn", 0), std::string::npos) << call;
  }
}

// A blob whose centre jumps by Shift pixels when the hand closes, as a real blob does.
std::vector<std::array<std::int32_t, 2>> ClickAt(TRig& Rig, TPoint Centre, int Shift,
                                                 std::vector<std::string>* Buttons = nullptr) {
  for (int i = 0; i < 20; ++i) {
    Rig.Frame(Centre);
  }
  Rig.Desktop.ClearCalls();
  std::vector<std::array<std::int32_t, 2>> sent;  // from the last frame before closing
  for (int i = 0; i < 12; ++i) {
    // Closed, the blob's centre shifts and then sags a little while the hand holds the pose.
    Rig.Frame({Centre.Row + Shift + i / 3, Centre.Column - Shift}, true);
    sent.push_back(Rig.Pointer());
  }
  for (int i = 0; i < 20; ++i) {
    Rig.Frame(Centre);
    sent.push_back(Rig.Pointer());
  }
  if (Buttons) {
    *Buttons = Rig.Buttons();
  }
  return sent;
}

// The pointer where the button went down and where it came up.
std::pair<std::array<std::int32_t, 2>, std::array<std::int32_t, 2>> ButtonPositions(
    const TRecordingDesktop& Desktop) {
  std::array<std::int32_t, 2> last{}, down{}, up{};
  for (const std::string& call : Desktop.Actions()) {
    int x = 0, y = 0;
    if (std::sscanf(call.c_str(), "MovePointer(%d,%d)", &x, &y) == 2) {
      last = {x, y};
    } else if (call == "LeftButtonDown()") {
      down = last;
    } else if (call == "LeftButtonUp()") {
      up = last;
    }
  }
  return {down, up};
}

TEST(ClicksStayPut, WithoutHoldTheClickDriftsWithHoldItStaysWhereTheButtonWentDown) {
  for (const int filter : {pfAverage, pfOneEuro}) {
    TPointerSettings s;
    s.Filter = filter;
    TRig drifting(s);
    ClickAt(drifting, {60, 80}, 4);
    const auto [down0, up0] = ButtonPositions(drifting.Desktop);
    EXPECT_GT(PixelDistance(down0, up0), 8.0) << "filter " << filter;

    s.HoldOnClick = true;
    s.ClickDeadZone = 80;
    TRig held(s);
    std::vector<std::string> buttons;
    ClickAt(held, {60, 80}, 4, &buttons);
    EXPECT_THAT(buttons, ElementsAre("LeftButtonDown()", "LeftButtonUp()"));
    const auto [down, up] = ButtonPositions(held.Desktop);
    EXPECT_EQ(down, up) << "filter " << filter;
    // Held where the hand rested before it closed.
    EXPECT_LT(PixelDistance(down, held.Pointer()), 30.0);
  }
}

TEST(ClicksStayPut, SettleTimeHoldsAfterTheChangeAndTheDeadZoneLetsARealDragThrough) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.HoldOnClick = true;
  s.ClickSettleTime = 300;  // 9 frames
  s.ClickDeadZone = 40;
  TRig rig(s);
  for (int i = 0; i < 20; ++i) {
    rig.Frame({60, 80});
  }
  const auto rest = rig.Pointer();
  // Closing: two unconfirmed frames, the confirming frame, then the settle time.
  int heldFrames = 0;
  for (int i = 0; i < 14; ++i) {
    rig.Frame({61, 79}, true);
    heldFrames += rig.Translator.PointerState().Held && rig.Pointer() == rest ? 1 : 0;
  }
  EXPECT_EQ(heldFrames, 14) << "settle, then a small shift stays inside the dead zone";
  // A move of 10 picture pixels (some 120 screen pixels) leaves the dead zone: a drag.
  for (int i = 0; i < 10; ++i) {
    rig.Frame({61, 90}, true);
  }
  EXPECT_FALSE(rig.Translator.PointerState().Held);
  EXPECT_GT(PixelDistance(rig.Pointer(), rest), 100.0);
  // Back near the start: the dead zone does not come back during the same press.
  for (int i = 0; i < 30; ++i) {
    rig.Frame({61, 81}, true);
  }
  EXPECT_FALSE(rig.Translator.PointerState().Held);
  EXPECT_NE(rig.Pointer(), rest);
}

TEST(DwellClick, ClicksOnceAfterTheDwellTimeWithACountdownAndOnlyAgainAfterLeaving) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.DwellClick = true;
  s.DwellTime = 1000;
  s.DwellRadius = 30;
  TRig rig(s);
  rig.Start();
  rig.Frame({60, 80});
  const double start = rig.Now;
  double lastProgress = -1;
  while (rig.Buttons().empty() && rig.Now - start < 3) {
    const double progress = rig.Translator.PointerState().DwellProgress;
    EXPECT_GE(progress, lastProgress);
    lastProgress = progress;
    rig.Frame({60, 80});
  }
  EXPECT_NEAR(rig.Now - start, 1.0, 1.0 / 30 + 1e-9);
  EXPECT_GT(lastProgress, 0.9);
  EXPECT_THAT(rig.Buttons(), ElementsAre("LeftButtonDown()", "LeftButtonUp()"));
  EXPECT_LT(rig.Translator.PointerState().DwellProgress, 0);
  // Resting on: no second click.
  for (int i = 0; i < 90; ++i) {
    rig.Frame({60, 80});
  }
  EXPECT_EQ(rig.Buttons().size(), 2u);
  // Leave the circle (some 240 screen pixels) and rest again: the next click.
  for (int i = 0; i < 60; ++i) {
    rig.Frame({60, 100});
  }
  EXPECT_EQ(rig.Buttons().size(), 4u);
}

TEST(DwellClick, ADrawnOutHandNeverClicksAndDoubleAndDragToggleSendTheirButtons) {
  TPointerSettings s;
  s.Filter = pfOneEuro;
  s.DwellClick = true;
  TRig moving(s);
  moving.Start();
  for (int i = 0; i < 120; ++i) {
    moving.Frame({60, 20 + i});  // 12 screen pixels a frame: never 30 pixels for a second
  }
  EXPECT_THAT(moving.Buttons(), IsEmpty());

  s.DwellAction = daDoubleClick;
  TRig twice(s);
  twice.Start();
  for (int i = 0; i < 40; ++i) {
    twice.Frame({60, 80});
  }
  EXPECT_THAT(twice.Buttons(), ElementsAre("LeftButtonDown()", "LeftButtonUp()", "LeftButtonDown()",
                                           "LeftButtonUp()"));

  s.DwellAction = daDragToggle;
  TRig drag(s);
  drag.Start();
  for (int i = 0; i < 40; ++i) {
    drag.Frame({60, 80});
  }
  EXPECT_THAT(drag.Buttons(), ElementsAre("LeftButtonDown()"));
  for (int i = 0; i < 40; ++i) {
    drag.Frame({80, 120});  // dragged away, rest: released there
  }
  EXPECT_THAT(drag.Buttons(), ElementsAre("LeftButtonDown()", "LeftButtonUp()"));
  // Tracking inactive: no dwell at all.
  TRig inactive(s);
  for (int i = 0; i < 60; ++i) {
    inactive.Frame({60, 80}, false, HandWindow, false);
  }
  EXPECT_THAT(inactive.Desktop.Calls(), IsEmpty());
}

TEST(PauseGesture, TheHandAwayForThePauseTimePausesAndAgainResumes) {
  TPointerSettings s;
  s.PauseGesture = true;
  s.PauseTime = 1500;
  TRig rig(s);
  for (int i = 0; i < 10; ++i) {
    rig.Frame({60, 80});
  }
  // Away for one second: no move is sent while away, and no pause.
  for (int i = 0; i < 30; ++i) {
    rig.Frame({60, 80}, false, WholePicture);
    EXPECT_FALSE(rig.Translator.PointerState().Pointer);
  }
  rig.Frame({60, 80});
  EXPECT_FALSE(rig.Translator.PointerState().Paused);
  // Away for the pause time: paused, while still away and after coming back.
  for (int i = 0; i < 50; ++i) {
    rig.Frame({60, 80}, false, WholePicture);
  }
  EXPECT_TRUE(rig.Translator.PointerState().Paused);
  rig.Desktop.ClearCalls();
  for (int i = 0; i < 10; ++i) {
    rig.Frame({70, 100}, true);  // the Mouse Down pose does nothing while paused
    EXPECT_TRUE(rig.Translator.PointerState().Paused);
    EXPECT_FALSE(rig.Translator.PointerState().Pointer);
  }
  EXPECT_THAT(rig.Desktop.Calls(), IsEmpty());
  // Away again for the pause time: resumed; the pose held all along presses nothing.
  for (int i = 0; i < 50; ++i) {
    rig.Frame({70, 100}, true, WholePicture);
  }
  rig.Frame({70, 100}, true);
  EXPECT_FALSE(rig.Translator.PointerState().Paused);
  EXPECT_TRUE(rig.Translator.PointerState().Pointer);
  EXPECT_THAT(rig.Buttons(), IsEmpty());
}

// The first sample passes the One Euro filter unchanged: one frame shows the mapping.
std::array<std::int32_t, 2> MappedOnce(const TPointerSettings& Settings, TPoint Centre) {
  TPointerSettings s = Settings;
  s.Filter = pfOneEuro;
  TRig rig(s);
  rig.Frame(Centre);
  return rig.Pointer();
}

TEST(GainAndRegion, GainScalesAroundTheRegionCentreAndTheOffsetMovesIt) {
  TPointerSettings s;
  // Row 60 is the original region's vertical centre: it stays put whatever the gain.
  EXPECT_EQ(MappedOnce(s, {60, 100})[1], 32768);
  s.PointerGain = 2.0;
  EXPECT_EQ(MappedOnce(s, {60, 100})[1], 32768);
  const auto plain = MappedOnce({}, {75, 100});
  const auto gained = MappedOnce(s, {75, 100});
  EXPECT_NEAR(gained[0] - 32767.5, 2 * (plain[0] - 32767.5), 1.0);
  EXPECT_NEAR(gained[1] - 32767.5, 2 * (plain[1] - 32767.5), 1.0);

  s.RegionOffsetX = 20;
  s.RegionOffsetY = -10;
  const auto moved = MappedOnce(s, {80, 100});
  const double ex = ((100.0 - 10) / 160 * 1.14 - 0.5 - 20.0 / 160 * 1.14) * 2 + 0.5;
  const double ey = ((80.0 - 10) / 120 * 1.2 - 0.5 + 10.0 / 120 * 1.2) * 2 + 0.5;
  EXPECT_EQ(moved[0], RoundHalfEven(ex * 65535));
  EXPECT_EQ(moved[1], RoundHalfEven(ey * 65535));
  // A gain below 1 maps a larger part of the picture: half the motion.
  s = {};
  s.PointerGain = 0.5;
  EXPECT_NEAR(MappedOnce(s, {75, 100})[0] - 32767.5, 0.5 * (plain[0] - 32767.5), 1.0);
}

TEST(RelativeMode, ThePointerMovesByTheHandsMotionAndTheHandAwayIsALiftedMouse) {
  TPointerSettings s;
  s.RelativeMode = true;
  s.RelativeGain = 2.0;
  s.Filter = pfOneEuro;
  s.OneEuroBeta = 10;  // follow at once
  TRig rig(s);
  rig.Frame({60, 80});
  EXPECT_EQ(rig.Pointer(), (std::array<std::int32_t, 2>{32768, 32768}));  // starts centred
  for (int i = 0; i < 20; ++i) {
    rig.Frame({60, 90});
  }
  const double moved = rig.Pointer()[0] - 32767.5;
  EXPECT_NEAR(moved, 10.0 / 160 * 1.14 * 2 * 65535, 300);
  // Lift: away, come back somewhere else: the pointer does not jump.
  const auto before = rig.Pointer();
  rig.Frame({60, 40}, false, WholePicture);
  for (int i = 0; i < 3; ++i) {
    rig.Frame({60, 40});
  }
  EXPECT_LT(PixelDistance(rig.Pointer(), before), 40.0);
  // Pushed against the edge it stays on the area.
  for (int i = 0; i < 20; ++i) {
    rig.Frame({60, 40 + 6 * i});
  }
  EXPECT_LE(rig.Pointer()[0], 65535);
}

TEST(Monitors, PrimaryChosenMonitorAndWholeDesktop) {
  const std::vector<TScreenArea> layout{{1280, 0, 1280, 1024}, {0, 0, 1280, 1024}};
  TPointerSettings s;
  TRig primary(s);
  primary.Translator.SetMonitors(layout);
  s.Monitor = 2;
  TRig second(s);
  second.Translator.SetMonitors(layout);
  s.Monitor = pmDesktop;
  TRig desktop(s);
  desktop.Translator.SetMonitors(layout);
  s.Monitor = 5;  // gone: the primary monitor stands in
  TRig gone(s);
  gone.Translator.SetMonitors(layout);
  for (int i = 0; i < 6; ++i) {
    for (TRig* rig : {&primary, &second, &desktop, &gone}) {
      rig->Frame({60, 80});
    }
  }
  const std::string at =
      std::to_string(primary.Pointer()[0]) + "," + std::to_string(primary.Pointer()[1]) + ")";
  EXPECT_EQ(primary.Desktop.Actions().back(), "MovePointer(" + at);
  EXPECT_EQ(gone.Desktop.Actions().back(), "MovePointer(" + at);
  EXPECT_EQ(second.Desktop.Actions().back(), "MovePointerIn(0,0,1280,1024," + at);
  EXPECT_EQ(desktop.Desktop.Actions().back(), "MovePointerIn(0,0,2560,1024," + at);
  // Distances are screen pixels of the target: a wider area makes the same dwell radius
  // a smaller part of it.
}

TEST(Monitors, AChosenMonitorThatGoesFallsBackToThePrimaryAndIsToldOncePerGoing) {
  const std::vector<TScreenArea> two{{1280, 0, 1280, 1024}, {0, 0, 1280, 1024}};
  const std::vector<TScreenArea> one{{1280, 0, 1280, 1024}};
  TPointerSettings s;
  s.Monitor = 2;
  TRig rig(s);
  EXPECT_EQ(rig.Translator.UpdateMonitors(two), "");
  rig.Start();
  rig.Frame({60, 80});
  EXPECT_EQ(rig.Desktop.Actions().back().rfind("MovePointerIn(0,0,1280,1024,", 0), 0u);
  EXPECT_EQ(rig.Translator.UpdateMonitors(one),
            "Monitor 2 is gone: the pointer maps onto the primary monitor until it is back.");
  rig.Frame({60, 80});
  EXPECT_EQ(rig.Desktop.Actions().back().rfind("MovePointer(", 0), 0u);
  EXPECT_EQ(rig.Translator.UpdateMonitors(one), "") << "told once";
  EXPECT_EQ(rig.Translator.UpdateMonitors(two), "");
  rig.Frame({60, 80});
  EXPECT_EQ(rig.Desktop.Actions().back().rfind("MovePointerIn(0,0,1280,1024,", 0), 0u);
  EXPECT_NE(rig.Translator.UpdateMonitors({}), "") << "gone again, told again";
  // The primary monitor and the whole desktop never go.
  s.Monitor = pmDesktop;
  rig.Translator.SetPointerSettings(s);
  EXPECT_EQ(rig.Translator.UpdateMonitors(two), "");
  EXPECT_EQ(rig.Translator.UpdateMonitors(one), "");
}

}  // namespace
}  // namespace pavrel
