// The tracking session without widgets: real GStreamer clips and fake cameras, a listener
// that records what it is told, and the order in which the session ends.

#include <gtest/gtest.h>

#include <unistd.h>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VideoTestSupport.h"
#include "mouse/RecordingDesktop.h"
#include "session/TrackingSession.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"
#include "video/VideoSource.h"

namespace pavrel::test {
namespace {

using namespace std::chrono_literals;

class TRecordingListener : public TSessionListener {
 public:
  void LabelChanged(const TActionLabel& Label) override {
    std::scoped_lock lock(FLock);
    CheckThread();
    Labels.push_back(Label.Caption);
    if (ThrowFromLabel) {
      throw std::runtime_error("the view is gone");
    }
  }
  void ViewChanged() override {
    std::scoped_lock lock(FLock);
    ++Views;
  }
  void RawFrameArrived() override {
    std::scoped_lock lock(FLock);
    ++RawFrames;
  }
  void FrameFailed(const std::string& Message, bool First) override {
    std::scoped_lock lock(FLock);
    Failures.emplace_back(Message, First);
  }
  void VideoEnded(std::uint64_t Run, const std::string& Error) override {
    std::scoped_lock lock(FLock);
    CheckThread();
    Ends.emplace_back(Run, Error);
    FChanged.notify_all();
  }

  // Waits until Condition holds (under the listener's lock).
  bool Await(const std::function<bool()>& Condition, std::chrono::seconds Timeout = 20s) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, Timeout, Condition) ||
           WaitUntil([&] { return Condition(); }, 1ms);
  }
  template <typename T>
  T Read(const T& Value) {
    std::scoped_lock lock(FLock);
    return Value;
  }

  std::thread::id Owner = std::this_thread::get_id();
  bool CalledOnOwner = false;
  bool ThrowFromLabel = false;
  std::vector<std::string> Labels;
  int Views = 0;
  int RawFrames = 0;
  std::vector<std::pair<std::string, bool>> Failures;
  std::vector<std::pair<std::uint64_t, std::string>> Ends;

 private:
  void CheckThread() { CalledOnOwner = CalledOnOwner || std::this_thread::get_id() == Owner; }
  std::mutex FLock;
  std::condition_variable FChanged;
};

// A desktop that notes how many frames the session had handled when it was destroyed.
class TWatchedDesktop : public TRecordingDesktop {
 public:
  TWatchedDesktop(const TTrackingSession* const& Session, std::int64_t& FramesAtEnd)
      : FSession(Session), FFramesAtEnd(FramesAtEnd) {}
  ~TWatchedDesktop() override { FFramesAtEnd = FSession->FramesHandled(); }

 private:
  const TTrackingSession* const& FSession;
  std::int64_t& FFramesAtEnd;
};

// Runs a video command and waits for its result.
TVideoCommandResult Await(TTrackingSession& Session, const std::filesystem::path& File,
                          std::uint64_t* Run = nullptr) {
  auto done = std::make_shared<std::promise<TVideoCommandResult>>();
  std::future<TVideoCommandResult> result = done->get_future();
  const std::uint64_t run = Session.PlayFile(
      File.string(),
      [done](std::uint64_t, const TVideoCommandResult& Result) { done->set_value(Result); });
  if (Run != nullptr) {
    *Run = run;
  }
  EXPECT_EQ(result.wait_for(20s), std::future_status::ready);
  return result.get();
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeDevices();
    SetFakeDevices({CameraRaw(), CameraUnplugged()});
    // The per-user store of this test only.
    FConfig = std::filesystem::temp_directory_path() /
              ("pavrel-session-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FConfig);
    std::filesystem::create_directories(FConfig);
    ::setenv("XDG_CONFIG_HOME", FConfig.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(FConfig); }

  TSessionOptions Options(TSessionListener& Listener) {
    TSessionOptions options;
    options.Listener = &Listener;
    options.CreateDesktop = [] { return std::make_unique<TRecordingDesktop>(); };
    return options;
  }

  std::filesystem::path FConfig;
};

TEST_F(Session, AClipPlaysToItsEndAndEveryFrameIsReported) {
  TRecordingListener listener;
  TTrackingSession session(Options(listener));
  EXPECT_TRUE(session.PointerActionsAvailable());
  EXPECT_EQ(session.DesktopStatus(), "Desktop: ready");
  session.Video()->SetRealTime(false);
  std::uint64_t run = 0;
  const TVideoCommandResult result = Await(session, Clips().Moving(), &run);
  EXPECT_TRUE(result.Error.empty()) << result.Error;
  EXPECT_FALSE(result.Cancelled);
  ASSERT_TRUE(listener.Await([&] { return !listener.Ends.empty(); }));
  const auto ends = listener.Read(listener.Ends);
  ASSERT_EQ(ends.size(), 1U);
  EXPECT_EQ(ends[0].first, run);
  EXPECT_EQ(ends[0].second, "");
  // Every frame of the clip went through the pipeline, one label and one view each, and
  // none of it on the thread that owns the session.
  EXPECT_EQ(session.FramesHandled(), TTestClips::Frames);
  EXPECT_EQ(listener.Read(listener.Labels).size(), static_cast<std::size_t>(TTestClips::Frames));
  EXPECT_EQ(listener.Read(listener.Views), TTestClips::Frames);
  EXPECT_GT(listener.Read(listener.RawFrames), 0);
  EXPECT_FALSE(listener.Read(listener.CalledOnOwner));
  EXPECT_EQ(session.FrameFailureCount(), 0)
      << (listener.Failures.empty() ? "" : listener.Failures[0].first);
  // The tracker saw the clip's frames, not an empty bitmap.
  EXPECT_EQ(session.Pipeline().LastFrameCopy().Width(), 160);
  EXPECT_EQ(session.Pipeline().LastFrameCopy().Height(), 120);
}

TEST_F(Session, AFileThatCannotPlayIsAnErrorAndStartsNothing) {
  TRecordingListener listener;
  TTrackingSession session(Options(listener));
  for (const auto& bad : {Clips().TextFile(), Clips().Missing()}) {
    const TVideoCommandResult result = Await(session, bad);
    EXPECT_FALSE(result.Error.empty()) << bad;
    EXPECT_FALSE(result.Cancelled);
  }
  EXPECT_FALSE(session.Video()->Active());
  EXPECT_EQ(session.FramesHandled(), 0);
  EXPECT_TRUE(listener.Read(listener.Ends).empty());
}

TEST_F(Session, ACameraThatFailsEndsTheRunWithItsError) {
  TRecordingListener listener;
  TTrackingSession session(Options(listener));
  auto done = std::make_shared<std::promise<TVideoCommandResult>>();
  auto result = done->get_future();
  const std::uint64_t run = session.SelectDevice(
      1, [done](std::uint64_t, const TVideoCommandResult& R) { done->set_value(R); });
  ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(result.get().Error.empty());
  ASSERT_TRUE(listener.Await([&] { return !listener.Ends.empty(); }));
  const auto ends = listener.Read(listener.Ends);
  EXPECT_EQ(ends[0].first, run);
  EXPECT_FALSE(ends[0].second.empty());
  EXPECT_GT(session.FramesHandled(), 0);
}

TEST_F(Session, AFailingFrameIsReportedOncePerRunAndNeverEscapes) {
  TRecordingListener listener;
  listener.ThrowFromLabel = true;
  TTrackingSession session(Options(listener));
  session.Video()->SetRealTime(false);
  Await(session, Clips().Moving());
  ASSERT_TRUE(listener.Await([&] { return !listener.Ends.empty(); }));
  // Every frame failed and was counted; only the first was reported as the first.
  EXPECT_EQ(session.FrameFailureCount(), TTestClips::Frames);
  auto failures = listener.Read(listener.Failures);
  ASSERT_EQ(failures.size(), static_cast<std::size_t>(TTestClips::Frames));
  EXPECT_EQ(failures[0].first, "the view is gone");
  EXPECT_TRUE(failures[0].second);
  EXPECT_FALSE(failures[1].second);
  // The next source starts a new run: its first failure is reported as such again.
  Await(session, Clips().Moving());
  ASSERT_TRUE(listener.Await([&] { return listener.Ends.size() == 2; }));
  failures = listener.Read(listener.Failures);
  ASSERT_EQ(failures.size(), 2U * TTestClips::Frames);
  EXPECT_TRUE(failures[TTestClips::Frames].second);
}

TEST_F(Session, ReleaseStopsTheFramesBeforeTheDesktopGoesAndReportsNothingAfter) {
  TRecordingListener listener;
  const TTrackingSession* watched = nullptr;
  std::int64_t framesAtDesktopEnd = -1;
  TSessionOptions options = Options(listener);
  options.CreateDesktop = [&] {
    return std::make_unique<TWatchedDesktop>(watched, framesAtDesktopEnd);
  };
  TTrackingSession session(options);
  watched = &session;
  session.SetTrackingActive(true);
  // A live camera: frames keep coming until the session lets go.
  auto done = std::make_shared<std::promise<TVideoCommandResult>>();
  auto result = done->get_future();
  session.SelectDevice(0,
                       [done](std::uint64_t, const TVideoCommandResult& R) { done->set_value(R); });
  ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
  ASSERT_TRUE(WaitUntil([&] { return session.FramesHandled() >= 5; }));
  session.Release();
  EXPECT_TRUE(session.Released());
  EXPECT_EQ(session.Video(), nullptr);
  EXPECT_FALSE(session.TrackingActive());
  // The desktop went after the last frame: none ran after it, nor are any told afterwards.
  ASSERT_GE(framesAtDesktopEnd, 5);
  const int labels = static_cast<int>(listener.Read(listener.Labels).size());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(session.FramesHandled(), framesAtDesktopEnd);
  EXPECT_EQ(static_cast<int>(listener.Read(listener.Labels).size()), labels);
  session.Release();  // twice is harmless
}

TEST_F(Session, StopVideoStopsTheFramesAndPaintsTheViewBlack) {
  TRecordingListener listener;
  TTrackingSession session(Options(listener));
  auto done = std::make_shared<std::promise<TVideoCommandResult>>();
  auto result = done->get_future();
  session.SelectDevice(0,
                       [done](std::uint64_t, const TVideoCommandResult& R) { done->set_value(R); });
  ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
  ASSERT_TRUE(WaitUntil([&] { return session.FramesHandled() >= 3; }));
  session.StopVideo();
  const std::int64_t frames = session.FramesHandled();
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(session.FramesHandled(), frames + 1);  // at most the frame in progress
  const TBitmap view = session.Pipeline().ViewImageCopy();
  bool black = true;
  for (int y = 0; y < view.Height(); ++y) {
    for (int x = 0; x < view.Width(); ++x) {
      const TRGBTriple& p = view.Row24(y)[x];
      black = black && p.rgbtRed == 0 && p.rgbtGreen == 0 && p.rgbtBlue == 0;
    }
  }
  EXPECT_TRUE(black);
}

TEST_F(Session, TheStoreKeepsTheParameterSetBetweenSessions) {
  TRecordingListener listener;
  {
    TTrackingSession session(Options(listener));
    EXPECT_EQ(session.Parameters().LHueBound, DefaultParameters().LHueBound);
    TTrackerParameters params = session.Parameters();
    params.LHueBound = 17;
    params.MeanThreshold = 9;
    session.SetParameters(params);
    EXPECT_EQ(session.Tracker().GetParameters().LHueBound, 17);
    std::string error;
    EXPECT_TRUE(session.WriteStore(&error)) << error;
  }
  TTrackingSession next(Options(listener));
  EXPECT_EQ(next.Parameters().LHueBound, 17);
  EXPECT_EQ(next.Tracker().GetParameters().MeanThreshold, 9);
  // A store folder that cannot be written is an error with its reason, not a crash.
  std::filesystem::remove_all(FConfig);
  { std::ofstream blocker(FConfig); }
  std::string error;
  EXPECT_FALSE(next.WriteStore(&error));
  EXPECT_FALSE(error.empty());
}

TEST_F(Session, WithoutADesktopItTracksAndSaysWhy) {
  TRecordingListener listener;
  TSessionOptions options = Options(listener);
  options.CreateDesktop = []() -> std::unique_ptr<TDesktop> {
    throw std::runtime_error("no display");
  };
  options.WithVideo = false;
  TTrackingSession session(options);
  EXPECT_FALSE(session.PointerActionsAvailable());
  EXPECT_EQ(session.DesktopError(), "no display");
  EXPECT_EQ(session.Video(), nullptr);
  EXPECT_THROW(session.PlayFile(Clips().Moving().string(), {}), std::logic_error);
  // Frames handed in go through the same pipeline.
  TBitmap frame(160, 120);
  session.HandleFrame(&frame);
  EXPECT_EQ(session.FramesHandled(), 1);
  EXPECT_EQ(listener.Read(listener.Labels).size(), 1U);
}

}  // namespace
}  // namespace pavrel::test
