#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "detector/DetectorWorker.h"

namespace pavrel {
namespace {

using namespace std::chrono_literals;

// A frame that carries its post number in its first pixel bytes.
TBitmap NumberedFrame(std::uint32_t Number) {
  TBitmap Frame(16, 12);
  std::memcpy(Frame.ScanLine(0), &Number, sizeof Number);
  return Frame;
}

std::uint32_t NumberOf(const TBitmap& Frame) {
  std::uint32_t Number = 0;
  std::memcpy(&Number, Frame.ScanLine(0), sizeof Number);
  return Number;
}

// Records the frames it is given; each call can be held until the test lets it go.
class TStubDetector : public IHandDetector {
 public:
  struct TShared {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::uint32_t> Seen;  // frame numbers, in call order
    bool Hold = false;
    bool InCall = false;
    bool Destroyed = false;
    bool ThrowNext = false;
  };
  explicit TStubDetector(std::shared_ptr<TShared> Shared) : FShared(std::move(Shared)) {}
  ~TStubDetector() override {
    std::scoped_lock Guard(FShared->Lock);
    FShared->Destroyed = true;
    FShared->Changed.notify_all();
  }
  std::vector<THandDetection> Detect(const TBitmap& Frame) override {
    std::unique_lock Guard(FShared->Lock);
    FShared->InCall = true;
    FShared->Seen.push_back(NumberOf(Frame));
    FShared->Changed.notify_all();
    FShared->Changed.wait(Guard, [&] { return !FShared->Hold; });
    FShared->InCall = false;
    FShared->Changed.notify_all();
    if (FShared->ThrowNext) {
      FShared->ThrowNext = false;
      throw std::runtime_error("stub failure");
    }
    THandDetection Hand;
    Hand.Score = 0.9f;
    Hand.XMin = static_cast<float>(NumberOf(Frame));
    return {Hand};
  }

 private:
  std::shared_ptr<TShared> FShared;
};

template <typename Predicate>
bool WaitFor(TStubDetector::TShared& S, Predicate P) {
  std::unique_lock Guard(S.Lock);
  return S.Changed.wait_for(Guard, 10s, P);
}

std::shared_ptr<const TDetectorResult> WaitForResult(const TDetectorWorker& Worker,
                                                     std::uint64_t Sequence) {
  const auto Deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < Deadline) {
    auto Latest = Worker.Latest();
    if (Latest && Latest->Sequence >= Sequence)
      return Latest;
    std::this_thread::sleep_for(1ms);
  }
  return nullptr;
}

TEST(DetectorWorker, TakesTheNewestFrameAndNeverHoldsThePoster) {
  auto Shared = std::make_shared<TStubDetector::TShared>();
  Shared->Hold = true;
  TDetectorWorker Worker(std::make_unique<TStubDetector>(Shared), {.LostBudget = 1.0});
  EXPECT_EQ(Worker.Latest(), nullptr);

  // A camera thread posts frames 1, 2, ... while the detector is held in its first call.
  std::atomic<bool> Done{false};
  std::atomic<std::uint32_t> Posted{0};
  std::thread Camera([&] {
    for (std::uint32_t N = 1; !Done; ++N) {
      Posted = N;  // before the post: a frame the worker takes is never above Posted
      Worker.Post(NumberedFrame(N), false);
      std::this_thread::sleep_for(200us);
    }
  });
  ASSERT_TRUE(WaitFor(*Shared, [&] { return Shared->InCall; }));
  const std::uint32_t PostedBefore = Posted;
  // The poster goes on while the call is held.
  const auto Deadline = std::chrono::steady_clock::now() + 10s;
  while (Posted < PostedBefore + 50 && std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_GE(Posted, PostedBefore + 50);
  const std::uint32_t PostedWhileHeld = Posted;
  {
    std::scoped_lock Guard(Shared->Lock);
    Shared->Hold = false;
    Shared->Changed.notify_all();
  }
  // Later calls get frames posted after the held call: none of the frames that piled up.
  ASSERT_TRUE(WaitFor(*Shared, [&] { return Shared->Seen.size() >= 4; }));
  Done = true;
  Camera.join();
  std::vector<std::uint32_t> Seen;
  {
    std::scoped_lock Guard(Shared->Lock);
    Seen = Shared->Seen;
  }
  EXPECT_LE(Seen[0], PostedBefore);
  EXPECT_GE(Seen[1], PostedWhileHeld);
  for (std::size_t I = 1; I < Seen.size(); ++I)
    EXPECT_GT(Seen[I], Seen[I - 1]);

  auto Result = WaitForResult(Worker, 2);
  ASSERT_NE(Result, nullptr);
  EXPECT_EQ(Result->Hands.size(), 1u);
  EXPECT_EQ(Result->FrameSerial, static_cast<std::uint64_t>(Result->Hands[0].XMin));
  EXPECT_FALSE(Result->Tracked);
  EXPECT_GE(Worker.Stats().Calls, 2u);
}

TEST(DetectorWorker, ShutsDownWhileACallRuns) {
  auto Shared = std::make_shared<TStubDetector::TShared>();
  Shared->Hold = true;
  auto Worker = std::make_unique<TDetectorWorker>(std::make_unique<TStubDetector>(Shared));
  Worker->Post(NumberedFrame(1), false);
  // The first call is due at once; wait until the worker wants a frame, then post again.
  std::atomic<bool> InCall{false};
  std::thread Poster([&] {
    for (std::uint32_t N = 2; !InCall; ++N) {
      Worker->Post(NumberedFrame(N), false);
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_TRUE(WaitFor(*Shared, [&] { return Shared->InCall; }));
  InCall = true;
  Poster.join();

  auto Stopped = std::async(std::launch::async, [&] { Worker.reset(); });
  // Destruction waits for the call: the detector must outlive it.
  EXPECT_EQ(Stopped.wait_for(100ms), std::future_status::timeout);
  {
    std::scoped_lock Guard(Shared->Lock);
    EXPECT_TRUE(Shared->InCall);
    EXPECT_FALSE(Shared->Destroyed);
    Shared->Hold = false;
    Shared->Changed.notify_all();
  }
  ASSERT_EQ(Stopped.wait_for(10s), std::future_status::ready);
  std::scoped_lock Guard(Shared->Lock);
  EXPECT_FALSE(Shared->InCall);
  EXPECT_TRUE(Shared->Destroyed);
  EXPECT_EQ(Shared->Seen.size(), 1u);
}

TEST(DetectorWorker, ReportsAFailedCallAndCarriesOn) {
  auto Shared = std::make_shared<TStubDetector::TShared>();
  Shared->ThrowNext = true;
  TDetectorWorker Worker(std::make_unique<TStubDetector>(Shared), {.LostBudget = 1.0});
  std::shared_ptr<const TDetectorResult> First, Second;
  for (std::uint32_t N = 1;
       N < 20000 && !(Second = Worker.Latest(), Second && Second->Sequence >= 2); ++N) {
    Worker.Post(NumberedFrame(N), true);
    if (!First)
      First = Worker.Latest();
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_NE(Second, nullptr);
  ASSERT_EQ(Second->Sequence, 2u);
  EXPECT_TRUE(Second->Error.empty());
  EXPECT_EQ(Second->Hands.size(), 1u);
  EXPECT_TRUE(Second->Tracked);
  std::scoped_lock Guard(Shared->Lock);
  EXPECT_EQ(Shared->Seen.size(), 2u);
}

TEST(DetectorSchedule, OnceASecondWhileTrackedWithinABudgetWhileLost) {
  const TDetectorWorkerOptions Options{.TrackedInterval = 1000ms, .LostBudget = 0.2};
  const TDetectorClock::time_point Start{};
  const auto End = Start + 60ms;
  // Tracked: start to start, once a second while 4 % of a core allows.
  EXPECT_EQ(NextCallDue(Options, true, Start, End, 30ms), Start + 1000ms);
  EXPECT_EQ(NextCallDue(Options, true, Start, End, 50ms), Start + 1250ms);
  // Lost: 50 ms of CPU at 20 % wants 200 ms of rest after the call.
  EXPECT_EQ(NextCallDue(Options, false, Start, End, 50ms), End + 200ms);
  EXPECT_EQ(NextCallDue(Options, false, Start, End, 0ms), End);
  // The whole core: no pause at all.
  EXPECT_EQ(NextCallDue({.LostBudget = 1.0}, false, Start, End, 50ms), End);
}

}  // namespace
}  // namespace pavrel
