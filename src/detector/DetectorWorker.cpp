#include "detector/DetectorWorker.h"

#include <time.h>

#include <algorithm>
#include <exception>

namespace pavrel {
namespace {

std::chrono::nanoseconds ThreadCpuTime() {
  timespec Now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
  return std::chrono::seconds(Now.tv_sec) + std::chrono::nanoseconds(Now.tv_nsec);
}

}  // namespace

TDetectorClock::time_point NextCallDue(const TDetectorWorkerOptions& Options, bool Tracked,
                                       TDetectorClock::time_point LastStart,
                                       TDetectorClock::time_point LastEnd,
                                       std::chrono::nanoseconds LastCpu) {
  const auto Share = [&](double Budget) {
    // A call of C seconds in every C / b seconds keeps the share of the core at b.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double, std::nano>(LastCpu.count() / (Budget > 0 ? Budget : 1.0)));
  };
  if (Tracked) {
    return LastStart + std::max<std::chrono::nanoseconds>(Options.TrackedInterval,
                                                          Share(Options.TrackedBudget));
  }
  const auto Pause = Share(Options.LostBudget) - LastCpu;
  return LastEnd + Pause;
}

TDetectorWorker::TDetectorWorker(std::unique_ptr<IHandDetector> Detector,
                                 TDetectorWorkerOptions Options)
    : FDetector(std::move(Detector)), FOptions(Options), FThread([this] { Run(); }) {}

TDetectorWorker::~TDetectorWorker() {
  {
    std::scoped_lock Guard(FLock);
    FStopping = true;
  }
  FWake.notify_all();
  FThread.join();
}

void TDetectorWorker::Post(const TBitmap& Frame, bool Tracked) {
  const std::uint64_t Serial = ++FPosts;
  const bool Changed = FTracked.exchange(Tracked) != Tracked;
  if (FWantFrame.load()) {
    std::scoped_lock Guard(FLock);
    // Nobody else writes FFrame while a frame is wanted; the worker only reads it under FLock.
    FFrame.Assign(Frame);
    FFrameSerial = Serial;
    FFrameTracked = Tracked;
    FWantFrame = false;
  } else if (!Changed) {
    return;
  }
  FWake.notify_one();
}

std::shared_ptr<const TDetectorResult> TDetectorWorker::Latest() const {
  std::scoped_lock Guard(FLock);
  return FLatest;
}

TDetectorWorkerStats TDetectorWorker::Stats() const {
  std::scoped_lock Guard(FLock);
  return FStats;
}

void TDetectorWorker::Run() {
  std::uint64_t Sequence = 0;
  bool HaveCalled = false;
  TDetectorClock::time_point LastStart{}, LastEnd{};
  std::chrono::nanoseconds LastCpu{0};
  TBitmap Frame;
  std::unique_lock Guard(FLock);
  while (!FStopping) {
    // Sleep until the next call is due; a change of tracking state may bring it forward.
    if (HaveCalled) {
      const auto Due = NextCallDue(FOptions, FTracked.load(), LastStart, LastEnd, LastCpu);
      if (TDetectorClock::now() < Due) {
        FWake.wait_until(Guard, Due);
        continue;
      }
    }
    // Due: take the next frame posted.
    if (FFrameSerial == 0) {
      FWantFrame = true;
      FWake.wait(Guard, [this] { return FStopping || FFrameSerial != 0; });
      continue;
    }
    std::swap(Frame, FFrame);
    auto Result = std::make_shared<TDetectorResult>();
    Result->FrameSerial = FFrameSerial;
    Result->Tracked = FFrameTracked;
    FFrameSerial = 0;
    Guard.unlock();

    LastStart = TDetectorClock::now();
    const auto CpuBefore = ThreadCpuTime();
    try {
      Result->Hands = FDetector->Detect(Frame);
    } catch (const std::exception& E) {
      Result->Error = E.what();
    }
    LastCpu = ThreadCpuTime() - CpuBefore;
    LastEnd = TDetectorClock::now();
    HaveCalled = true;

    Guard.lock();
    Result->Sequence = ++Sequence;
    FStats.Calls += 1;
    FStats.CpuTime += LastCpu;
    if (!FStopping)
      FLatest = std::move(Result);
  }
  FWantFrame = false;
}

}  // namespace pavrel
