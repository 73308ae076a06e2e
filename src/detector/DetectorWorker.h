#pragma once

// Runs a hand detector on a thread of its own. The video thread posts frames and reads the
// newest result; it never waits for a detector call. The worker takes a frame only when a
// call is due: about once a second while the hand is tracked (to confirm it), and as often as
// a CPU budget allows while it is lost (to find it again).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "detector/HandDetector.h"
#include "image/Bitmap.h"

namespace pavrel {

// One detector call's outcome.
struct TDetectorResult {
  std::uint64_t Sequence = 0;     // 1 for the first result, then one more each call
  std::uint64_t FrameSerial = 0;  // which Post() gave the frame (1 for the first post)
  bool Tracked = false;           // what the poster said when that frame came
  std::vector<THandDetection> Hands;
  std::string Error;  // set when the call failed; Hands is then empty
};

struct TDetectorWorkerOptions {
  // While tracked: one call per this interval, start to start, or less often where a call
  // costs more than TrackedBudget of one core over it.
  std::chrono::milliseconds TrackedInterval{1000};
  double TrackedBudget = 0.04;
  // While lost: calls take at most this share of one core (the pause after a call is sized
  // from that call's CPU time).
  double LostBudget = 0.2;
};

// When the next call is due, from the last call's start and end and its CPU time.
using TDetectorClock = std::chrono::steady_clock;
TDetectorClock::time_point NextCallDue(const TDetectorWorkerOptions& Options, bool Tracked,
                                       TDetectorClock::time_point LastStart,
                                       TDetectorClock::time_point LastEnd,
                                       std::chrono::nanoseconds LastCpu);

struct TDetectorWorkerStats {
  std::uint64_t Calls = 0;
  std::chrono::nanoseconds CpuTime{0};  // the worker thread's CPU time in calls
};

class TDetectorWorker {
 public:
  explicit TDetectorWorker(std::unique_ptr<IHandDetector> Detector,
                           TDetectorWorkerOptions Options = {});
  // Waits for a call that is under way, then joins the thread.
  ~TDetectorWorker();
  TDetectorWorker(const TDetectorWorker&) = delete;
  TDetectorWorker& operator=(const TDetectorWorker&) = delete;

  // From the video thread: the newest frame and whether the tracker holds the hand. Copies the
  // frame only when a call is due; never waits for a call.
  void Post(const TBitmap& Frame, bool Tracked);
  // The newest result, or null before the first call ends.
  std::shared_ptr<const TDetectorResult> Latest() const;
  TDetectorWorkerStats Stats() const;

 private:
  void Run();

  std::unique_ptr<IHandDetector> FDetector;
  const TDetectorWorkerOptions FOptions;

  mutable std::mutex FLock;
  std::condition_variable FWake;
  TBitmap FFrame;                                  // guarded by FLock: the frame for the next call
  std::uint64_t FFrameSerial = 0;                  // guarded by FLock: 0 while no frame waits
  bool FFrameTracked = false;                      // guarded by FLock
  bool FStopping = false;                          // guarded by FLock
  std::shared_ptr<const TDetectorResult> FLatest;  // guarded by FLock
  TDetectorWorkerStats FStats;                     // guarded by FLock

  std::atomic<bool> FWantFrame{false};
  std::atomic<bool> FTracked{false};
  std::atomic<std::uint64_t> FPosts{0};
  std::thread FThread;  // last: started once everything above exists
};

}  // namespace pavrel
