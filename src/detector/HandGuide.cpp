#include "detector/HandGuide.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

namespace pavrel {

THandGuide::THandGuide(TResultSource Source, THandGateOptions Options)
    : FSource(std::move(Source)), FOptions(Options) {}

std::unique_ptr<THandGuide> THandGuide::WithWorker(std::unique_ptr<IHandDetector> Detector,
                                                   TDetectorWorkerOptions WorkerOptions,
                                                   THandGateOptions Options) {
  auto Worker = std::make_shared<TDetectorWorker>(std::move(Detector), WorkerOptions);
  auto Guide = std::make_unique<THandGuide>(
      [Worker = Worker.get()](const TBitmap& Frame, bool Confirmed, TDetectorClock::time_point) {
        Worker->Post(Frame, Confirmed);
        return Worker->Latest();
      },
      Options);
  Guide->FWorker = std::move(Worker);
  return Guide;
}

std::unique_ptr<THandGuide> THandGuide::Inline(std::unique_ptr<IHandDetector> Detector,
                                               TDetectorWorkerOptions WorkerOptions,
                                               THandGateOptions Options,
                                               std::chrono::milliseconds CallCost) {
  struct TState {
    std::unique_ptr<IHandDetector> Detector;
    std::shared_ptr<const TDetectorResult> Newest;
    std::uint64_t Posts = 0;
    std::optional<TDetectorClock::time_point> Last;
  };
  auto State = std::make_shared<TState>();
  State->Detector = std::move(Detector);
  return std::make_unique<THandGuide>(
      [State, WorkerOptions, CallCost](const TBitmap& Frame, bool Confirmed,
                                       TDetectorClock::time_point Now) {
        ++State->Posts;
        if (State->Last &&
            Now < NextCallDue(WorkerOptions, Confirmed, *State->Last, *State->Last, CallCost))
          return State->Newest;
        State->Last = Now;
        auto Result = std::make_shared<TDetectorResult>();
        Result->Sequence = State->Newest ? State->Newest->Sequence + 1 : 1;
        Result->FrameSerial = State->Posts;
        Result->Tracked = Confirmed;
        try {
          Result->Hands = State->Detector->Detect(Frame);
        } catch (const std::exception& E) {
          Result->Error = E.what();
        }
        State->Newest = std::move(Result);
        return State->Newest;
      },
      Options);
}

const TBitmap& THandGuide::Masked(const TBitmap& Frame) {
  const auto Region = FGate->SkinRegion();
  if (!Region)
    return Frame;
  // Black is never skin: everything outside the region is painted black in a copy.
  FMasked.Assign(Frame);
  const std::size_t Bytes = Frame.BitsPerPixel() / 8;
  for (int Row = 0; Row < FMasked.Height(); ++Row) {
    std::uint8_t* Line = FMasked.ScanLine(Row);
    if (Row < Region->Top || Row >= Region->Bottom) {
      std::memset(Line, 0, Bytes * FMasked.Width());
      continue;
    }
    std::memset(Line, 0, Bytes * Region->Left);
    std::memset(Line + Bytes * Region->Right, 0, Bytes * (FMasked.Width() - Region->Right));
  }
  return FMasked;
}

THandGateDecision THandGuide::Track(THandTracker& Tracker, const TBitmap& Frame,
                                    TTrackingResult& Result, TDetectorClock::time_point Now) {
  if (!FGate)
    FGate = std::make_unique<THandGate>(Frame.Width(), Frame.Height(), FOptions);
  FNewest = FSource(Frame, FGate->HandConfirmed() && !FGate->CheckWanted(), Now);
  Tracker.Track(Masked(Frame), Result);
  const bool Lost = Result.LearnedModel ? Result.Lost : Result.Window == Tracker.Home();
  THandGateDecision Decision = FGate->Update(Now, Result.Window, Lost, FNewest.get());
  if (Decision.Restart) {
    // Start again from the detected hand on this very frame.
    Tracker.RestartAt(*Decision.Restart);
    Tracker.Track(Masked(Frame), Result);
  }
  return Decision;
}

}  // namespace pavrel
