#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Tilts well inside and beyond the +-25 degree marks (radians).
constexpr double Upright = 0.0;
constexpr double TiltRight = 0.5;  // about 28.7 degrees: mark 1
constexpr double TiltLeft = -0.5;  // mark 2

struct TPose {
  double Feature1;
  double Feature2;
  double Angle;
};

// The class means, each with the tilt that gives the wanted code.
TPose PoseFor(std::int32_t Code) {
  const double angle = (Code & maScrollDown) ? TiltRight : (Code & maScrollUp) ? TiltLeft : Upright;
  switch (Code & ~3) {
    case maMouseUp:
      return {81585.0, 9.133, angle};
    case maMouseDown:
      return {76069.56521739131, 16.62173913043478, angle};
    case maMinimize:
      return {69408.69565217392, 5.795217391304349, angle};
    case maNextWindow:
      return {85368.0, 23.774, angle};
    default:
      return {Inf, -Inf, angle};  // every distance infinite: no class
  }
}

void AddPose(TMouseTranslator& T, const TPose& Pose, TPoint Centre = {60, 80}) {
  T.AddTrackerResult(Centre, {10, 20, 30, 40}, Pose.Angle, Pose.Feature1, Pose.Feature2, 0.5, 0.25);
}

// One frame: add and translate; answers the debounced code.
std::int32_t Frame(TMouseTranslator& T, const TPose& Pose, bool Active = true,
                   TPoint Centre = {60, 80}) {
  AddPose(T, Pose, Centre);
  TMouseAction action;
  action.Action = -99;
  T.Translate(Active, action);
  return action.Action;
}

// Enough frames of one pose for its code to become current.
void Hold(TMouseTranslator& T, std::int32_t Code, bool Active = true) {
  for (int i = 0; i < 3; ++i) {
    Frame(T, PoseFor(Code), Active);
  }
  ASSERT_EQ(T.LastAction(), Code);
}

std::int32_t CodeOf(TMouseTranslator& T, double Feature1, double Feature2, double Angle = 0) {
  AddPose(T, {Feature1, Feature2, Angle});
  return T.History(4).Action;
}

std::string LastMove(const TRecordingDesktop& Desktop) {
  std::string move;
  for (const std::string& call : Desktop.Actions()) {
    if (call.rfind("MovePointer", 0) == 0) {
      move = call;
    }
  }
  return move;
}

TEST(ActionName, TextsAndSuffixes) {
  EXPECT_EQ(ActionName(0), "No Action");
  EXPECT_EQ(ActionName(4), "Mouse Up");
  EXPECT_EQ(ActionName(8), "Mouse Down");
  EXPECT_EQ(ActionName(16), "Minimize");
  EXPECT_EQ(ActionName(32), "Next Window");
  EXPECT_EQ(ActionName(5), "Mouse Up  _");
  EXPECT_EQ(ActionName(6), "Mouse Up  ^");
  EXPECT_EQ(ActionName(9), "Mouse Down  _");
  EXPECT_EQ(ActionName(10), "Mouse Down  ^");
  EXPECT_EQ(ActionName(12), "Undefined");
  EXPECT_EQ(ActionName(20), "Undefined");
  EXPECT_EQ(ActionName(64), "Undefined");
  EXPECT_EQ(ActionName(3), "No Action");
  EXPECT_EQ(ActionName(1), "No Action  _");
  EXPECT_EQ(ActionName(35), "Next Window");
  // Division truncates toward zero; the low bits are taken in two's complement.
  EXPECT_EQ(ActionName(-3), "No Action  _");
  EXPECT_EQ(ActionName(-4), "Undefined");
  EXPECT_EQ(ActionName(std::numeric_limits<std::int32_t>::min()), "Undefined");
}

TEST(TranslatorCreation, SmoothingLengthAndImageSizeAreChecked) {
  EXPECT_THROW(TMouseTranslator(1, 160, 120), std::invalid_argument);
  EXPECT_THROW(TMouseTranslator(7, 160, 120), std::invalid_argument);
  EXPECT_THROW(TMouseTranslator(0, 160, 120), std::invalid_argument);
  EXPECT_NO_THROW(TMouseTranslator(2, 160, 120));
  EXPECT_NO_THROW(TMouseTranslator(6, 160, 120));
  EXPECT_THROW(TMouseTranslator(5, 0, 120), std::invalid_argument);
  EXPECT_THROW(TMouseTranslator(5, 160, -1), std::invalid_argument);
}

TEST(TranslatorCreation, HistoryStartsFresh) {
  TMouseTranslator t(5, 160, 120);
  for (int i = 0; i < TMouseTranslator::HistoryLength; ++i) {
    const TTrackSample& s = t.History(i);
    EXPECT_EQ(s.Centre, (TPoint{-1, -1}));
    EXPECT_EQ(s.Window, (TRect{-1, -1, -1, -1}));
    EXPECT_EQ(s.Angle, 0.0);
    EXPECT_EQ(s.Feature1, 0.0);
    EXPECT_EQ(s.Action, 0);
  }
  EXPECT_EQ(t.LastAction(), 0);
  EXPECT_THROW(t.History(5), std::out_of_range);
}

TEST(TranslatorHistory, NewestEntryKeepsTheFramesDataAndTheOldestIsRecycled) {
  TMouseTranslator t(5, 160, 120);
  for (int i = 0; i < 7; ++i) {
    t.AddTrackerResult({i, 100 + i}, {i, i + 1, i + 2, i + 3}, 0.01 * i, 81585.0, 9.133 + i, 0, 0);
  }
  for (int i = 0; i < 5; ++i) {
    const TTrackSample& s = t.History(i);
    EXPECT_EQ(s.Centre, (TPoint{i + 2, 102 + i}));
    EXPECT_EQ(s.Window, (TRect{i + 2, i + 3, i + 4, i + 5}));
    EXPECT_DOUBLE_EQ(s.Angle, 0.01 * (i + 2));
    EXPECT_EQ(s.Feature1, 81585.0);
    EXPECT_EQ(s.Feature2, 9.133 + (i + 2));
  }
}

TEST(TranslatorClassification, DistancesOfTheWorkedExamples) {
  const TMouseTranslator t(5, 160, 120);
  const auto near = t.ClassDistances(80000, 10);
  EXPECT_NEAR(near[0], 2.139, 5e-4);
  EXPECT_NEAR(near[1], 1160.363, 5e-4);
  EXPECT_NEAR(near[2], 539.105, 5e-4);
  EXPECT_NEAR(near[3], 57.201, 5e-4);
  const auto origin = t.ClassDistances(0, 0);
  EXPECT_NEAR(origin[0], 3241.212, 5e-4);
  EXPECT_NEAR(origin[1], 77509.436, 5e-4);
  EXPECT_NEAR(origin[2], 46717.621, 5e-4);
  EXPECT_NEAR(origin[3], 11020.100, 5e-4);
}

TEST(TranslatorClassification, EachMeanIsItsOwnClassAndWorkedExamplesAreClassZero) {
  TMouseTranslator t(5, 160, 120);
  for (std::int32_t code : {maMouseUp, maMouseDown, maMinimize, maNextWindow}) {
    const TPose pose = PoseFor(code);
    EXPECT_EQ(CodeOf(t, pose.Feature1, pose.Feature2), code);
  }
  EXPECT_EQ(CodeOf(t, 80000, 10), maMouseUp);
  EXPECT_EQ(CodeOf(t, 0, 0), maMouseUp);
}

TEST(TranslatorClassification, TiesNotANumberAndNoClass) {
  EXPECT_EQ(TMouseTranslator::Classify({5, 5, 7, 9}, 0), maMouseUp);
  EXPECT_EQ(TMouseTranslator::Classify({9, 3, 3, 3}, 0), maMouseDown);
  EXPECT_EQ(TMouseTranslator::Classify({9, 8, 1, 1}, 0), maMinimize);
  // A distance that is not a number takes over; the next class then replaces it.
  EXPECT_EQ(TMouseTranslator::Classify({1, NaN, 5, 7}, 0), maMinimize);
  EXPECT_EQ(TMouseTranslator::Classify({1, NaN, 7, 5}, 0), maNextWindow);
  EXPECT_EQ(TMouseTranslator::Classify({1, 2, NaN, 7}, 0), maNextWindow);
  EXPECT_EQ(TMouseTranslator::Classify({1, 2, 3, NaN}, 0), maNextWindow);
  // Nothing below 1.7e308: no class, code 0.
  EXPECT_EQ(TMouseTranslator::Classify({1.7e308, 1.7e308, Inf, 1.7e308}, 0), maNoAction);
  EXPECT_EQ(TMouseTranslator::Classify({1.7e308, 1.6e308, Inf, 1.7e308}, 0), maMouseDown);

  TMouseTranslator t(5, 160, 120);
  EXPECT_EQ(CodeOf(t, NaN, NaN), maNextWindow);
  EXPECT_EQ(CodeOf(t, NaN, 10), maNextWindow);
  EXPECT_EQ(CodeOf(t, Inf, -Inf), maNoAction);
  EXPECT_EQ(CodeOf(t, Inf, 10), maNextWindow) << "infinity minus infinity is not a number";
  EXPECT_EQ(CodeOf(t, 1e200, -1e200), maNoAction);
  EXPECT_EQ(CodeOf(t, NaN, NaN, 1.0), maNextWindow) << "class 3 never carries a mark";
}

// The angle (radians) that converts to exactly Degrees, searched near its quotient.
double AngleFor(double Degrees) {
  double angle = Degrees * 6.28 / 360.0;
  for (int i = 0; i < 64 && angle * 360.0 / 6.28 != Degrees; ++i) {
    angle = std::nextafter(angle, angle * 360.0 / 6.28 < Degrees ? Inf : -Inf);
  }
  return angle;
}

TEST(TranslatorClassification, ScrollMarksBeyondTwentyFiveDegrees) {
  const double plus25 = AngleFor(25.0);
  const double minus25 = AngleFor(-25.0);
  ASSERT_EQ(plus25 * 360.0 / 6.28, 25.0);
  ASSERT_EQ(minus25 * 360.0 / 6.28, -25.0);

  const std::array<double, 4> up{1, 2, 3, 4};
  const std::array<double, 4> down{2, 1, 3, 4};
  EXPECT_EQ(TMouseTranslator::Classify(up, plus25), maMouseUp);
  EXPECT_EQ(TMouseTranslator::Classify(up, minus25), maMouseUp);
  EXPECT_EQ(TMouseTranslator::Classify(up, std::nextafter(plus25, Inf)), 5);
  EXPECT_EQ(TMouseTranslator::Classify(up, std::nextafter(minus25, -Inf)), 6);
  EXPECT_EQ(TMouseTranslator::Classify(up, AngleFor(25.001)), 5);
  EXPECT_EQ(TMouseTranslator::Classify(down, AngleFor(25.001)), 9);
  EXPECT_EQ(TMouseTranslator::Classify(down, AngleFor(-25.001)), 10);
  EXPECT_EQ(TMouseTranslator::Classify(down, NaN), 10) << "a tilt that is not a number";
  EXPECT_EQ(TMouseTranslator::Classify({3, 2, 1, 4}, 1.5), maMinimize);
  EXPECT_EQ(TMouseTranslator::Classify({3, 2, 1, 4}, -1.5), maMinimize);
  EXPECT_EQ(TMouseTranslator::Classify({4, 3, 2, 1}, -1.5), maNextWindow);

  // 6.28, not 2 pi: 0.4363 rad is 25.01 degrees by it but 24.999 by 2 pi.
  EXPECT_EQ(TMouseTranslator::Classify(up, 0.4363), 5);
}

TEST(TranslatorDebounce, FirstTwoFramesReportNoAction) {
  TMouseTranslator t(5, 160, 120);
  EXPECT_EQ(Frame(t, PoseFor(maMouseDown), false), 0);
  EXPECT_EQ(Frame(t, PoseFor(maMouseDown), false), 0);
  EXPECT_EQ(Frame(t, PoseFor(maMouseDown), false), maMouseDown);
  EXPECT_EQ(t.LastAction(), maMouseDown);
}

TEST(TranslatorDebounce, OnlyThreeAgreeingFramesChangeTheCode) {
  TMouseTranslator t(5, 160, 120);
  Hold(t, maMouseUp, false);
  EXPECT_EQ(Frame(t, PoseFor(8), false), 4);
  EXPECT_EQ(Frame(t, PoseFor(8), false), 4);
  EXPECT_EQ(Frame(t, PoseFor(9), false), 4);  // 8, 8, 9
  EXPECT_EQ(Frame(t, PoseFor(9), false), 4);  // 8, 9, 9
  EXPECT_EQ(Frame(t, PoseFor(9), false), 9);  // 9, 9, 9
  EXPECT_EQ(Frame(t, PoseFor(4), false), 9);
  EXPECT_EQ(Frame(t, PoseFor(9), false), 9);
  EXPECT_EQ(Frame(t, PoseFor(4), false), 9);
  // Three frames with no class make code 0 current again.
  EXPECT_EQ(Frame(t, PoseFor(0), false), 9);
  EXPECT_EQ(Frame(t, PoseFor(0), false), 9);
  EXPECT_EQ(Frame(t, PoseFor(0), false), 0);
}

TEST(TranslatorPointer, MeanCentreMapsToAbsoluteUnits) {
  struct TCase {
    TPoint Centre;
    std::string Move;
  };
  const std::vector<TCase> cases{
      {{10, 10}, "MovePointer(0,0)"},
      {{60, 150}, "MovePointer(65371,32768)"},
      {{110, 160}, "MovePointer(70041,65535)"},
      {{120, 10}, "MovePointer(0,72088)"},
      {{0, 0}, "MovePointer(-4669,-6553)"},
      {{40, 10}, "MovePointer(0,19660)"},  // 19660.5: the half goes to the even neighbour
  };
  for (const TCase& c : cases) {
    TRecordingDesktop desktop;
    TMouseTranslator t(5, 160, 120, &desktop);
    for (int i = 0; i < 5; ++i) {
      AddPose(t, PoseFor(4), c.Centre);
    }
    AddPose(t, PoseFor(4), {-500, -500});  // the newest frame is not averaged
    TMouseAction action;
    t.Translate(true, action);
    EXPECT_EQ(LastMove(desktop), c.Move) << "centre " << c.Centre.Row << ", " << c.Centre.Column;
  }
}

TEST(TranslatorPointer, FreshEntriesGiveNegativeUnitsPassedOnUnclamped) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  Frame(t, PoseFor(4), true, {60, 80});
  EXPECT_THAT(desktop.Actions(), ElementsAre("MovePointer(-5136,-7209)"));
}

TEST(TranslatorPointer, MeanTruncatesTowardZeroAndSaturatesFarOutside) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  // Rows -1, -1, -1, 0 average to 0 (not -1); columns 10, 10, 10, 13 to 10.
  AddPose(t, PoseFor(4), {-1, 10});
  AddPose(t, PoseFor(4), {-1, 10});
  AddPose(t, PoseFor(4), {-1, 10});
  AddPose(t, PoseFor(4), {-1, 10});
  AddPose(t, PoseFor(4), {0, 13});
  Frame(t, PoseFor(4), true, {0, 0});
  EXPECT_EQ(LastMove(desktop), "MovePointer(0,-6553)");

  desktop.ClearCalls();
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  for (int i = 0; i < 5; ++i) {
    Frame(t, PoseFor(4), true, {big, -big});
  }
  EXPECT_EQ(LastMove(desktop), "MovePointer(-2147483648,2147483647)");
}

TEST(TranslatorPointer, SmoothingLengthSetsTheAveragedEntries) {
  // Columns 10, 26, 42, 58, 74 in history order: index i holds 10 + 16 i.
  auto moveAfterFiveFrames = [](std::int32_t SmoothingLength) {
    TRecordingDesktop desktop;
    TMouseTranslator t(SmoothingLength, 160, 120, &desktop);
    for (int i = 0; i < 4; ++i) {
      AddPose(t, PoseFor(4), {10, 10 + 16 * i});
    }
    Frame(t, PoseFor(4), true, {10, 74});
    return LastMove(desktop);
  };
  // x = (mean - 10) / 160 * 1.14 * 65535
  EXPECT_EQ(moveAfterFiveFrames(2), "MovePointer(0,0)");      // index 0: column 10
  EXPECT_EQ(moveAfterFiveFrames(3), "MovePointer(3735,0)");   // mean 18
  EXPECT_EQ(moveAfterFiveFrames(5), "MovePointer(11206,0)");  // mean 34
  EXPECT_EQ(moveAfterFiveFrames(6), "MovePointer(14942,0)");  // mean 42, newest included
}

TEST(TranslatorPointer, MovesOnEveryActiveFrameOnly) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  for (int i = 0; i < 6; ++i) {
    Frame(t, PoseFor(8), true);
  }
  EXPECT_EQ(desktop.Actions().size(), 7U);  // six moves and one button press
  EXPECT_EQ(desktop.ActionsWithoutMoves(), std::vector<std::string>{"LeftButtonDown()"});

  desktop.ClearCalls();
  for (int i = 0; i < 4; ++i) {
    Frame(t, PoseFor(4), false);
  }
  EXPECT_THAT(desktop.Calls(), IsEmpty());
  EXPECT_EQ(t.LastAction(), maMouseUp) << "inactive frames still classify and debounce";
}

TEST(TranslatorPointer, NoDesktopPerformsNothing) {
  TMouseTranslator t(5, 160, 120);
  Hold(t, maMouseDown, true);
  t.ReleaseButton();
  TRecordingDesktop desktop;
  t.SetDesktop(&desktop);
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), IsEmpty()) << "no press was ever sent";
}

struct TChange {
  std::int32_t From;
  std::int32_t To;
  std::vector<std::string> Actions;
};

class TranslatorActions : public ::testing::TestWithParam<TChange> {};

TEST_P(TranslatorActions, ChangeOfCodePerformsTheNewCodesActionsInOrder) {
  const TChange& change = GetParam();
  TRecordingDesktop desktop;
  desktop.SetWindows({{7, {true, false}}, {8, {true, false}}});
  desktop.SetForegroundWindow(7);
  TMouseTranslator t(5, 160, 120, &desktop);
  if (change.From != 0) {
    Hold(t, change.From);
  }
  desktop.ClearCalls();
  Hold(t, change.To);
  EXPECT_EQ(desktop.ActionsWithoutMoves(), change.Actions);

  desktop.ClearCalls();
  Frame(t, PoseFor(change.To));
  EXPECT_THAT(desktop.ActionsWithoutMoves(), IsEmpty()) << "no repeat without a change";
}

INSTANTIATE_TEST_SUITE_P(
    Changes, TranslatorActions,
    ::testing::Values(
        TChange{0, 4, {"LeftButtonUp()"}}, TChange{0, 5, {"Wheel(-120)", "LeftButtonUp()"}},
        TChange{0, 6, {"Wheel(120)", "LeftButtonUp()"}}, TChange{0, 8, {"LeftButtonDown()"}},
        TChange{0, 9, {"Wheel(-120)", "LeftButtonDown()"}},
        TChange{0, 10, {"Wheel(120)", "LeftButtonDown()"}}, TChange{0, 16, {"MinimizeWindow(7)"}},
        TChange{0, 32, {"ActivateWindow(8)"}}, TChange{4, 5, {"Wheel(-120)", "LeftButtonUp()"}},
        TChange{5, 4, {"LeftButtonUp()"}}, TChange{8, 10, {"Wheel(120)", "LeftButtonDown()"}},
        TChange{9, 8, {"LeftButtonDown()"}}, TChange{8, 4, {"LeftButtonUp()"}},
        TChange{8, 16, {"MinimizeWindow(7)"}}, TChange{8, 32, {"ActivateWindow(8)"}},
        TChange{16, 0, {}}, TChange{32, 6, {"Wheel(120)", "LeftButtonUp()"}}));

TEST(TranslatorActions, MinimiseWithoutForegroundWindowDoesNothing) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  Hold(t, maMinimize);
  EXPECT_THAT(desktop.Calls(), ::testing::Contains("ForegroundWindow()"));
  EXPECT_THAT(desktop.ActionsWithoutMoves(), IsEmpty());
}

TEST(TranslatorActions, ActivatingTrackingWithAHeldPosePressesNothing) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  Hold(t, maMouseDown, false);
  Frame(t, PoseFor(maMouseDown), true);
  Frame(t, PoseFor(maMouseDown), true);
  EXPECT_THAT(desktop.ActionsWithoutMoves(), IsEmpty());
}

TRecordingDesktop::TWindow Normal(TWindowHandle H) {
  return {H, {true, false}};
}
TRecordingDesktop::TWindow Popup(TWindowHandle H) {
  return {H, {true, true}};
}
TRecordingDesktop::TWindow Hidden(TWindowHandle H) {
  return {H, {false, false}};
}

TEST(TranslatorNextWindow, WalksDownFromTheForegroundAndActivatesTheBottomMostNormalWindow) {
  TRecordingDesktop desktop;
  desktop.SetWindows({Normal(9), Normal(1), Popup(2), Hidden(3), Normal(4), Popup(5)});
  desktop.SetForegroundWindow(1);
  desktop.SetActiveWindow(0);
  TMouseTranslator t(5, 160, 120, &desktop);
  Hold(t, maMouseUp);
  desktop.ClearCalls();
  Hold(t, maNextWindow);
  std::vector<std::string> calls;
  for (const std::string& c : desktop.Calls()) {
    if (c.rfind("MovePointer", 0) != 0) {
      calls.push_back(c);
    }
  }
  EXPECT_THAT(
      calls, ElementsAre("ActiveWindow()", "FirstWindow(0)", "ForegroundWindow()", "WindowStyle(1)",
                         "NextWindow(1)", "WindowStyle(2)", "NextWindow(2)", "WindowStyle(3)",
                         "NextWindow(3)", "WindowStyle(4)", "NextWindow(4)", "WindowStyle(5)",
                         "NextWindow(5)", "ActivateWindow(4)"));
}

TEST(TranslatorNextWindow, RepeatedActionsCycleThroughTheVisibleWindows) {
  TRecordingDesktop desktop;
  desktop.SetWindows({Normal(1), Normal(2), Popup(3), Normal(4)});
  desktop.SetForegroundWindow(1);
  TMouseTranslator t(5, 160, 120, &desktop);
  std::vector<TWindowHandle> fronts;
  for (int i = 0; i < 4; ++i) {
    Hold(t, maMouseUp);
    Hold(t, maNextWindow);
    fronts.push_back(desktop.Windows().front().Handle);
  }
  EXPECT_THAT(fronts, ElementsAre(4, 2, 1, 4));
}

TEST(TranslatorNextWindow, FallsBackToTheFirstWindowOfTheActiveWindowsOrder) {
  TRecordingDesktop desktop;
  desktop.SetWindows({Popup(20), Hidden(21), Popup(22)});
  desktop.SetForegroundWindow(22);
  desktop.SetActiveWindow(21);
  TMouseTranslator t(5, 160, 120, &desktop);
  Hold(t, maNextWindow);
  EXPECT_EQ(desktop.ActionsWithoutMoves(), std::vector<std::string>{"ActivateWindow(20)"});

  // The foreground window alone qualifies: it stays in front.
  desktop.SetWindows({Normal(30), Popup(31)});
  desktop.SetForegroundWindow(30);
  desktop.ClearCalls();
  Hold(t, maMouseUp);
  Hold(t, maNextWindow);
  EXPECT_EQ(desktop.ActionsWithoutMoves(),
            (std::vector<std::string>{"LeftButtonUp()", "ActivateWindow(30)"}));

  // No qualifying window and no active window: nothing is activated.
  desktop.SetWindows({Popup(40)});
  desktop.SetForegroundWindow(40);
  desktop.SetActiveWindow(0);
  desktop.ClearCalls();
  Hold(t, maMouseUp);
  Hold(t, maNextWindow);
  EXPECT_EQ(desktop.ActionsWithoutMoves(), std::vector<std::string>{"LeftButtonUp()"});
}

// A stacking order that never ends: every window claims itself as the next one down.
class TCyclicDesktop : public TRecordingDesktop {
 public:
  TWindowHandle NextWindow(TWindowHandle Window) override {
    TRecordingDesktop::NextWindow(Window);
    return Window;
  }
};

TEST(TranslatorNextWindow, AWalkThatNeverEndsIsCutShort) {
  TCyclicDesktop desktop;
  desktop.SetWindows({Normal(5)});
  desktop.SetForegroundWindow(5);
  TMouseTranslator t(5, 160, 120, &desktop);
  Hold(t, maNextWindow);
  EXPECT_EQ(desktop.ActionsWithoutMoves(), std::vector<std::string>{"ActivateWindow(5)"});
}

TEST(TranslatorReleaseButton, ReleasesOnlyAfterAPress) {
  TRecordingDesktop desktop;
  TMouseTranslator t(5, 160, 120, &desktop);
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), IsEmpty()) << "nothing pressed yet";

  Hold(t, maMouseDown);
  desktop.ClearCalls();
  t.ReleaseButton();
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), ElementsAre("LeftButtonUp()")) << "once only";

  // Leaving Mouse Down for Minimise or Next Window sends no release; ReleaseButton does.
  Hold(t, 9);
  Hold(t, maMinimize);
  desktop.ClearCalls();
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), ElementsAre("LeftButtonUp()"));

  Hold(t, maMouseDown);
  Hold(t, maMouseUp);
  desktop.ClearCalls();
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), IsEmpty()) << "the last button event was a release";

  // A press made while inactive is never sent, so there is nothing to release.
  Hold(t, maMouseDown, false);
  desktop.ClearCalls();
  t.ReleaseButton();
  EXPECT_THAT(desktop.Calls(), IsEmpty());
}

}  // namespace
}  // namespace pavrel
