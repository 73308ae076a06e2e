#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "detector/HandGate.h"
#include "detector/HandGuide.h"
#include "tracking/ColorLibrary.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

using namespace std::chrono_literals;

// Red is skin, black is not.
TTrackerParameters RedIsSkin() {
  return {.LHueBound = 0,
          .HHueBound = 10,
          .LSatBound = 100,
          .HSatBound = 255,
          .LValBound = 100,
          .HValBound = 255,
          .HeightToWidthRatio = 1.2,
          .LoseTrackArea = 100,
          .MeanThreshold = 1,
          .WindowExpansion = 5};
}

TRect Face() {
  return {10, 20, 60, 80};
}  // a large patch of skin on the left
TRect Hand() {
  return {100, 40, 124, 70};
}  // a smaller one on the right

TBitmap Scene(const std::vector<TRect>& Blobs) {
  TBitmap Frame(160, 120);
  Frame.FillBlack();
  for (const TRect& B : Blobs)
    for (int R = B.Top; R < B.Bottom; ++R)
      for (int C = B.Left; C < B.Right; ++C)
        Frame.Row24(R)[C] = MakeRGBTriple(255, 0, 0);
  return Frame;
}

// The detector's palm box for a blob: its lower part, as a palm under the fingers.
THandDetection PalmOf(const TRect& Blob, float Score = 0.95f) {
  THandDetection D;
  D.Score = Score;
  D.XMin = static_cast<float>(Blob.Left);
  D.XMax = static_cast<float>(Blob.Right);
  D.YMin = static_cast<float>(Blob.Top + (Blob.Bottom - Blob.Top) / 3);
  D.YMax = static_cast<float>(Blob.Bottom);
  return D;
}

bool Inside(const TTrackingResult& R, const TRect& Blob) {
  return R.CentreColumn >= Blob.Left && R.CentreColumn < Blob.Right && R.CentreRow >= Blob.Top &&
         R.CentreRow < Blob.Bottom;
}

// A scripted detector: each frame the test sets what the next result (if any) holds.
struct TScript {
  std::optional<std::vector<THandDetection>> Next;
  std::uint64_t Sequence = 0;
  std::vector<bool> ConfirmedSeen;
  std::shared_ptr<const TDetectorResult> Newest;

  THandGuide::TResultSource Source() {
    return [this](const TBitmap&, bool Confirmed, TDetectorClock::time_point) {
      ConfirmedSeen.push_back(Confirmed);
      if (Next) {
        auto R = std::make_shared<TDetectorResult>();
        R->Sequence = ++Sequence;
        R->Hands = *Next;
        Newest = R;
        Next.reset();
      }
      return Newest;
    };
  }
};

class HandGuideTest : public ::testing::Test {
 protected:
  HandGuideTest() : Tracker({0, 0, 160, 120}), Guide(Script.Source()) {
    Tracker.SetParameters(RedIsSkin());
  }
  // One frame at 30 frames a second.
  THandGateDecision Frame(const TBitmap& Picture) {
    const auto Now = TDetectorClock::time_point{} + Count++ * 33ms;
    return Guide.Track(Tracker, Picture, Result, Now);
  }
  TScript Script;
  THandTracker Tracker;
  THandGuide Guide;
  TTrackingResult Result;
  int Count = 0;
};

TEST_F(HandGuideTest, WithoutADetectedHandNothingActs) {
  const TBitmap Picture = Scene({Face()});
  for (int I = 0; I < 120; ++I) {
    if (I % 10 == 0)
      Script.Next = std::vector<THandDetection>{};
    const auto D = Frame(Picture);
    EXPECT_FALSE(D.MayAct);
    EXPECT_FALSE(D.Restart);
  }
  // The colour tracker alone does find the face: only the gate keeps it from acting.
  EXPECT_TRUE(Inside(Result, Face()));
}

TEST_F(HandGuideTest, AcquiresTheDetectedHandNotTheLargestSkin) {
  const TBitmap Picture = Scene({Face(), Hand()});
  // The colour tracker alone settles on the face.
  for (int I = 0; I < 10; ++I)
    EXPECT_FALSE(Frame(Picture).MayAct);
  EXPECT_FALSE(Inside(Result, Hand()));
  Script.Next = std::vector{PalmOf(Hand())};
  const auto D = Frame(Picture);
  EXPECT_TRUE(D.MayAct);
  ASSERT_TRUE(D.Restart);
  EXPECT_TRUE(Inside(Result, Hand()));
  // Confirmed once a second, it stays on the hand and never reaches into the face.
  for (int I = 0; I < 150; ++I) {
    if (I % 30 == 0)
      Script.Next = std::vector{PalmOf(Hand())};
    ASSERT_TRUE(Frame(Picture).MayAct) << "frame " << I;
    EXPECT_TRUE(Inside(Result, Hand()));
    EXPECT_GE(Result.Window.Left, Face().Right);
  }
  // The worker was told the hand is tracked.
  EXPECT_FALSE(Script.ConfirmedSeen.front());
  EXPECT_TRUE(Script.ConfirmedSeen.back());
}

TEST_F(HandGuideTest, SkinBesideTheHandDoesNotPullTheWindow) {
  // A neck or face beside the hand, half the hand's width away: close enough to pull the
  // colour tracker's window off the hand.
  const TRect Neck{40, 0, 90, 120};
  const TBitmap Picture = Scene({Neck, Hand()});
  Script.Next = std::vector{PalmOf(Hand())};
  ASSERT_TRUE(Frame(Picture).Restart);
  for (int I = 0; I < 60; ++I) {
    if (I % 30 == 0)
      Script.Next = std::vector{PalmOf(Hand())};
    ASSERT_TRUE(Frame(Picture).MayAct) << "frame " << I;
    EXPECT_TRUE(Inside(Result, Hand())) << "frame " << I;
  }
}

TEST_F(HandGuideTest, DropsAWindowNoDetectionConfirms) {
  const TBitmap Picture = Scene({Face(), Hand()});
  Script.Next = std::vector{PalmOf(Hand())};
  ASSERT_TRUE(Frame(Picture).MayAct);
  int Released = 0, LastActing = -1;
  // From now on the detector sees no hand (say the blob is a sleeve): dropped after 2 s.
  for (int I = 1; I < 150; ++I) {
    if (I % 8 == 0)
      Script.Next = std::vector<THandDetection>{};
    const auto D = Frame(Picture);
    Released += D.ReleaseButton;
    if (D.MayAct)
      LastActing = I;
  }
  EXPECT_EQ(Released, 1);
  EXPECT_GE(LastActing, 55);  // 2 s at 33 ms a frame is about 60 frames
  EXPECT_LE(LastActing, 62);
}

TEST_F(HandGuideTest, MovesToAConfidentHandElsewhereOnly) {
  const TRect Other{100, 0, 120, 25};
  const TBitmap Picture = Scene({Face(), Hand(), Other});
  Script.Next = std::vector{PalmOf(Hand())};
  Frame(Picture);
  ASSERT_TRUE(Inside(Result, Hand()));
  // A weak detection elsewhere does not move the tracker.
  Script.Next = std::vector{PalmOf(Other, 0.7f)};
  EXPECT_FALSE(Frame(Picture).Restart);
  EXPECT_TRUE(Inside(Result, Hand()));
  // A confident one does.
  Script.Next = std::vector{PalmOf(Other, 0.95f)};
  const auto D = Frame(Picture);
  EXPECT_TRUE(D.Restart);
  EXPECT_TRUE(D.MayAct);
  EXPECT_TRUE(Inside(Result, Other));
}

TEST_F(HandGuideTest, ALostTrackerStopsActingAtOnce) {
  Script.Next = std::vector{PalmOf(Hand())};
  ASSERT_TRUE(Frame(Scene({Hand()})).MayAct);
  ASSERT_TRUE(Frame(Scene({Hand()})).MayAct);
  // The hand leaves the picture: the tracker loses it and the gate follows on that frame.
  const auto D = Frame(Scene({}));
  EXPECT_FALSE(D.MayAct);
  EXPECT_TRUE(D.ReleaseButton);
  // Back in view, it is acted on again only once the detector has found it.
  EXPECT_FALSE(Frame(Scene({Hand()})).MayAct);
  Script.Next = std::vector{PalmOf(Hand())};
  EXPECT_TRUE(Frame(Scene({Hand()})).MayAct);
}

// The confirmed hand drops out of the picture and leaves a small patch of skin where it was
// (a chin, a wrist): the blob is checked at once and held until then.
class HandGuideJumpTest : public HandGuideTest {
 protected:
  const TRect BigHand{90, 30, 140, 90};
  const TRect Patch{110, 56, 120, 66};
  void ConfirmHand() {
    Script.Next = std::vector{PalmOf(BigHand)};
    ASSERT_TRUE(Frame(Scene({BigHand})).MayAct);
    for (int I = 0; I < 5; ++I)
      ASSERT_TRUE(Frame(Scene({BigHand})).MayAct);
    ASSERT_TRUE(Script.ConfirmedSeen.back());
  }
};

TEST_F(HandGuideJumpTest, ABlobThatJumpsIsHeldUntilTheDetectorFindsNoHandThere) {
  ConfirmHand();
  const TBitmap Jumped = Scene({Patch});
  auto D = Frame(Jumped);
  EXPECT_FALSE(D.MayAct);
  EXPECT_FALSE(D.ReleaseButton);  // not dropped yet: only held
  D = Frame(Jumped);
  EXPECT_FALSE(D.MayAct);
  // The worker is asked for a call as while lost.
  EXPECT_FALSE(Script.ConfirmedSeen.back());
  // A result from a frame posted before the jump (posted as tracked) does not decide.
  auto Stale = std::make_shared<TDetectorResult>();
  Stale->Sequence = ++Script.Sequence;
  Stale->Tracked = true;
  Script.Newest = Stale;
  EXPECT_FALSE(Frame(Jumped).ReleaseButton);
  // The check finds no hand: dropped at once, not 2 s later.
  Script.Next = std::vector<THandDetection>{};
  D = Frame(Jumped);
  EXPECT_FALSE(D.MayAct);
  EXPECT_TRUE(D.ReleaseButton);
  for (int I = 0; I < 30; ++I)
    EXPECT_FALSE(Frame(Jumped).MayAct);
}

TEST_F(HandGuideJumpTest, ABlobThatJumpsActsAgainWhenTheCheckFindsAHandOnIt) {
  ConfirmHand();
  // The hand closes to a fist: a third of its height, where it was.
  const TRect Fist{100, 60, 130, 80};
  EXPECT_FALSE(Frame(Scene({Fist})).MayAct);
  Script.Next = std::vector{PalmOf(Fist)};
  const auto D = Frame(Scene({Fist}));
  EXPECT_TRUE(D.MayAct);
  EXPECT_FALSE(D.ReleaseButton);
  EXPECT_TRUE(Inside(Result, Fist));
  EXPECT_TRUE(Frame(Scene({Fist})).MayAct);
  EXPECT_TRUE(Script.ConfirmedSeen.back());
}

TEST_F(HandGuideJumpTest, TheCheckCanBeTurnedOff) {
  THandGuide Plain(Script.Source(), THandGateOptions{.JumpRatio = 0});
  const auto Now = [this] { return TDetectorClock::time_point{} + Count++ * 33ms; };
  Script.Next = std::vector{PalmOf(BigHand)};
  ASSERT_TRUE(Plain.Track(Tracker, Scene({BigHand}), Result, Now()).MayAct);
  ASSERT_TRUE(Plain.Track(Tracker, Scene({BigHand}), Result, Now()).MayAct);
  EXPECT_TRUE(Plain.Track(Tracker, Scene({Patch}), Result, Now()).MayAct);
  EXPECT_TRUE(Script.ConfirmedSeen.back());
}

TEST(HandGate, WindowForAPalmStaysInTheFrame) {
  THandGate Gate(160, 120);
  THandDetection Palm;
  Palm.XMin = 140, Palm.XMax = 160, Palm.YMin = -4, Palm.YMax = 16;
  const TRect W = Gate.WindowFor(Palm);
  EXPECT_EQ(W, (TRect{135, 0, 160, 21}));
  EXPECT_FALSE(Gate.SkinRegion());
}

}  // namespace
}  // namespace pavrel
