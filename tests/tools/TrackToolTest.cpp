#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "DemoFrames.h"
#include "image/BmpFile.h"
#include "mouse/MouseTranslator.h"
#include "settings/Settings.h"
#include "track/TrackOptions.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct TRun {
  int Status = -1;
  std::vector<std::string> Lines;  // standard output
  std::string Err;
};

class TrackToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = fs::temp_directory_path() /
           ("pavrel-track-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  // Runs the real program with Arguments (each quoted for the shell).
  TRun Run(const std::vector<std::string>& Arguments) {
    std::string command = std::string("'") + PAVREL_TRACK_EXE + "'";
    for (const std::string& a : Arguments) {
      command += " '" + a + "'";
    }
    const fs::path out = FDir / "stdout.txt";
    const fs::path err = FDir / "stderr.txt";
    command += " >'" + out.string() + "' 2>'" + err.string() + "'";
    TRun run;
    const int raw = std::system(command.c_str());
    run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream o(out);
    for (std::string line; std::getline(o, line);) {
      run.Lines.push_back(line);
    }
    std::ifstream e(err);
    run.Err.assign(std::istreambuf_iterator<char>(e), {});
    return run;
  }

  fs::path Frames(const std::string& Folder, int Count, int Width = 160, int Height = 120) {
    const fs::path dir = FDir / Folder;
    fs::create_directories(dir);
    for (int i = 0; i < Count; ++i) {
      SaveBmpFile(
          MakeDemoFrame(DemoBlob(i, Width, Height), static_cast<std::uint32_t>(i), Width, Height),
          dir / (std::string("f") + std::to_string(i) + ".bmp"));
    }
    return dir;
  }

  fs::path FDir;
};

// The in-process result for the same frames, to compare the printed numbers with.
std::vector<TTrackingResult> Expected(const std::vector<TBitmap>& Frames,
                                      const TTrackerParameters& Params) {
  THandTracker tracker(TRect{0, 0, Frames[0].Width(), Frames[0].Height()});
  tracker.SetParameters(Params);
  std::vector<TTrackingResult> results;
  for (const TBitmap& f : Frames) {
    results.emplace_back();
    tracker.Track(f, results.back());
  }
  return results;
}

// The debounced codes an inactive translator gives for the same results, frame by frame.
std::vector<std::int32_t> ExpectedCodes(const std::vector<TTrackingResult>& Results) {
  TMouseTranslator translator(5, 160, 120);
  std::vector<std::int32_t> codes;
  for (const TTrackingResult& r : Results) {
    translator.AddTrackerResult({r.CentreRow, r.CentreColumn}, r.Window, r.Angle, r.HuMoment1,
                                r.HuMoment2, r.HuMoment3, r.HuMoment4);
    TMouseAction action;
    translator.Translate(false, action);
    codes.push_back(action.Action);
  }
  return codes;
}

void ExpectLineIs(const std::string& Line, int Frame, const TTrackingResult& R, std::int32_t Code) {
  const nlohmann::ordered_json j = nlohmann::ordered_json::parse(Line);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) {
    keys.push_back(item.key());
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"frame", "centre", "window", "angle", "hu", "code",
                                            "action"}))
      << Line;
  EXPECT_EQ(j["frame"], Frame);
  EXPECT_EQ(j["centre"], json::array({R.CentreRow, R.CentreColumn})) << Line;
  EXPECT_EQ(j["window"],
            json::array({R.Window.Left, R.Window.Top, R.Window.Right, R.Window.Bottom}))
      << Line;
  // Full precision: the printed doubles read back to the very same bits.
  EXPECT_EQ(j["angle"].get<double>(), R.Angle) << Line;
  const std::vector<double> hu = j["hu"].get<std::vector<double>>();
  EXPECT_EQ(hu, (std::vector<double>{R.HuMoment1, R.HuMoment2, R.HuMoment3, R.HuMoment4})) << Line;
  EXPECT_EQ(j["code"], Code) << Line;
  EXPECT_EQ(j["action"], ActionName(Code)) << Line;
}

TEST_F(TrackToolTest, FolderFramesInNameOrderWithStartupDefaultsAndSettings) {
  // Written out of order: f0 .. f11 sort as f0, f1, f10, f11, f2, ...
  const fs::path dir = Frames("frames", 12);
  std::vector<TBitmap> inNameOrder;
  for (const char* name :
       {"f0", "f1", "f10", "f11", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9"}) {
    inNameOrder.push_back(LoadBmpFile(dir / (std::string(name) + ".bmp")));
  }
  fs::create_directories(dir / "sub.bmp");  // a folder is not a frame
  std::ofstream(dir / "notes.txt") << "not a frame";

  const TRun plain = Run({dir.string()});
  EXPECT_EQ(plain.Status, 0) << plain.Err;
  ASSERT_EQ(plain.Lines.size(), 12u);
  const std::vector<TTrackingResult> defaults = Expected(inNameOrder, track::StartupParameters());
  const std::vector<std::int32_t> defaultCodes = ExpectedCodes(defaults);
  for (std::size_t i = 0; i < 12; ++i) {
    ExpectLineIs(plain.Lines[i], static_cast<int>(i) + 1, defaults[i], defaultCodes[i]);
  }

  const TTrackerParameters skin = DemoSkinParameters();
  const TRun tuned = Run({"--set", "LHueBound=" + std::to_string(skin.LHueBound), "--set",
                          "HHueBound=" + std::to_string(skin.HHueBound), "--set",
                          "LSatBound=" + std::to_string(skin.LSatBound), "--set",
                          "HSatBound=" + std::to_string(skin.HSatBound), "--set",
                          "LValBound=" + std::to_string(skin.LValBound), "--set",
                          "HeightToWidthRatio=1.72", dir.string(), "--frames", "5"});
  EXPECT_EQ(tuned.Status, 0) << tuned.Err;
  ASSERT_EQ(tuned.Lines.size(), 5u);
  const std::vector<TTrackingResult> tracked = Expected(inNameOrder, skin);
  const std::vector<std::int32_t> trackedCodes = ExpectedCodes(tracked);
  for (std::size_t i = 0; i < 5; ++i) {
    ExpectLineIs(tuned.Lines[i], static_cast<int>(i) + 1, tracked[i], trackedCodes[i]);
  }
  EXPECT_NE(tuned.Lines[4], plain.Lines[4]);  // the settings took effect
}

TEST_F(TrackToolTest, HomeRectangleComesFromTheFirstFrame) {
  const fs::path blank = FDir / "blank.bmp";
  SaveBmpFile(TBitmap(40, 30), blank);
  const TRun run = Run({"--set", "LHueBound=1", "--set", "HHueBound=0", blank.string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 1u);
  EXPECT_EQ(
      run.Lines[0],
      R"({"frame":1,"centre":[15,20],"window":[0,0,40,30],"angle":0.0,"hu":[0.0,0.0,0.0,0.0],)"
      R"("code":0,"action":"No Action"})");
}

TEST_F(TrackToolTest, FailedFramesAreReportedAndTheRestGoOn) {
  const fs::path good = Frames("good", 2);
  const fs::path eight = FDir / "eight.bmp";
  {
    // An 8-bit file: readable, but not a frame the tracker takes.
    std::vector<std::uint8_t> b(54 + 1024 + 4, 0);
    b[0] = 'B';
    b[1] = 'M';
    b[10] = static_cast<std::uint8_t>((54 + 1024) & 0xFF);
    b[11] = static_cast<std::uint8_t>((54 + 1024) >> 8);
    b[14] = 40;
    b[18] = 1;  // 1 x 1
    b[22] = 1;
    b[26] = 1;
    b[28] = 8;
    std::ofstream(eight, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  const fs::path broken = FDir / "broken.bmp";
  std::ofstream(broken) << "BM but nothing else";

  const TRun run = Run(
      {(good / "f0.bmp").string(), eight.string(), broken.string(), (good / "f1.bmp").string()});
  EXPECT_EQ(run.Status, 1);
  ASSERT_EQ(run.Lines.size(), 4u);
  EXPECT_EQ(run.Lines[1], R"({"frame":2,"error":"GetImageSpace:  Bitmap must be 24-bit color."})");
  const json third = json::parse(run.Lines[2]);
  EXPECT_EQ(third["frame"], 3);
  ASSERT_TRUE(third.contains("error"));
  EXPECT_NE(third["error"].get<std::string>().find(broken.string()), std::string::npos);
  // Files named one by one keep the order given, and the tracker goes on after failures.
  const std::vector<TTrackingResult> want = Expected(
      {LoadBmpFile(good / "f0.bmp"), LoadBmpFile(good / "f1.bmp")}, track::StartupParameters());
  const std::vector<std::int32_t> wantCodes = ExpectedCodes(want);
  ExpectLineIs(run.Lines[0], 1, want[0], wantCodes[0]);
  ExpectLineIs(run.Lines[3], 4, want[1], wantCodes[1]);
}

TEST_F(TrackToolTest, UsageErrorsExitWithTwoAndPrintNothingOnStandardOutput) {
  const fs::path dir = Frames("frames", 1);
  fs::create_directories(FDir / "empty");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {(FDir / "missing").string()},
      {(FDir / "empty").string()},
      {dir.string(), (FDir / "missing.bmp").string()},
      {"--set", "Nonsense=1", dir.string()},
      {"--set", "LHueBound", dir.string()},
      {"--set", "LHueBound=abc", dir.string()},
      {"--set", "LHueBound=1.5", dir.string()},
      {"--set", "LoseTrackArea=99999999999", dir.string()},
      {"--set", "HeightToWidthRatio=tall", dir.string()},
      {"--frames", "0", dir.string()},
      {"--frames", "many", dir.string()},
      {"--bogus", dir.string()},
  };
  for (const std::vector<std::string>& arguments : cases) {
    std::string shown;
    for (const std::string& a : arguments) {
      shown += a + " ";
    }
    SCOPED_TRACE(shown);
    const TRun run = Run(arguments);
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Lines.empty());
    EXPECT_NE(run.Err.find("pavrel-track: "), std::string::npos) << run.Err;
  }
}

TEST_F(TrackToolTest, SettingsFilesAndTheUserStoreGiveTheStartingSetAndSetStillAppliesLast) {
  const fs::path dir = Frames("frames", 3);
  std::vector<TBitmap> frames;
  for (const char* name : {"f0", "f1", "f2"}) {
    frames.push_back(LoadBmpFile(dir / (std::string(name) + ".bmp")));
  }
  TTrackerParameters skin = DemoSkinParameters();
  const std::string file = (FDir / "skin.pvl").string();
  SaveSettingsFile(skin, file);

  // --settings, then --set, and --save-settings writes what the run used.
  const std::string saved = (FDir / "used.pvl").string();
  const TRun run =
      Run({"--settings", file, "--set", "MeanThreshold=3", "--save-settings", saved, dir.string()});
  EXPECT_EQ(run.Status, 0) << run.Err;
  TTrackerParameters used = skin;
  used.MeanThreshold = 3;
  TTrackerParameters written = track::StartupParameters();
  OpenSettingsFile(saved, written);
  EXPECT_EQ(written, used);
  ASSERT_EQ(run.Lines.size(), 3u);
  const std::vector<TTrackingResult> want = Expected(frames, used);
  const std::vector<std::int32_t> wantCodes = ExpectedCodes(want);
  for (std::size_t i = 0; i < 3; ++i) {
    ExpectLineIs(run.Lines[i], static_cast<int>(i) + 1, want[i], wantCodes[i]);
  }

  // --user-settings reads the store under XDG_CONFIG_HOME, as the main window does.
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = oldConfig ? oldConfig : "";
  setenv("XDG_CONFIG_HOME", (FDir / "config").c_str(), 1);
  TTrackerParameters stored = track::StartupParameters();
  stored.LoseTrackArea = 123;
  stored.HeightToWidthRatio = 2.5;
  ASSERT_TRUE(WriteUserStore(stored, UserStorePath()));
  const TRun fromStore =
      Run({"--user-settings", "--save-settings", saved, "--frames", "1", dir.string()});
  oldConfig ? setenv("XDG_CONFIG_HOME", keep.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(fromStore.Status, 0) << fromStore.Err;
  OpenSettingsFile(saved, written);
  EXPECT_EQ(written, stored);

  // A broken settings file: its message, exit status 2, nothing tracked, nothing saved.
  std::ofstream(FDir / "broken.pvl") << "<parameters><LHueBound>1</LHueBound></parameters>";
  fs::remove(saved);
  const TRun broken =
      Run({"--settings", (FDir / "broken.pvl").string(), "--save-settings", saved, dir.string()});
  EXPECT_EQ(broken.Status, 2);
  EXPECT_TRUE(broken.Lines.empty());
  EXPECT_NE(broken.Err.find("pavrel-track: '' is not a valid integer value"), std::string::npos)
      << broken.Err;
  EXPECT_FALSE(fs::exists(saved));

  // An unwritable --save-settings and the two starting points together are errors too.
  std::ofstream(FDir / "plain") << "x";
  const std::string unwritable = (FDir / "plain" / "a.pvl").string();
  const TRun noSave = Run({"--save-settings", unwritable, dir.string()});
  EXPECT_EQ(noSave.Status, 2);
  EXPECT_TRUE(noSave.Lines.empty());
  EXPECT_NE(noSave.Err.find(unwritable), std::string::npos) << noSave.Err;
  EXPECT_EQ(Run({"--user-settings", "--settings", file, dir.string()}).Status, 2);
}

TEST_F(TrackToolTest, ARatioThatIsNotAFiniteNumberIsRefusedAndNeverSaved) {
  const fs::path dir = Frames("frames", 1);
  const std::string saved = (FDir / "saved.pvl").string();
  for (const std::string value : {"inf", "-inf", "INF", "infinity", "nan", "-nan", "NaN"}) {
    SCOPED_TRACE(value);
    const TRun run =
        Run({"--set", "HeightToWidthRatio=" + value, "--save-settings", saved, dir.string()});
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Lines.empty());
    EXPECT_NE(run.Err.find("pavrel-track: HeightToWidthRatio needs a finite number, got \"" +
                           value + "\""),
              std::string::npos)
        << run.Err;
  }
  // A store may hold any eight bytes; an infinite ratio read from it is not saved either.
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = oldConfig ? oldConfig : "";
  setenv("XDG_CONFIG_HOME", (FDir / "config").c_str(), 1);
  TTrackerParameters stored = track::StartupParameters();
  stored.HeightToWidthRatio = std::numeric_limits<double>::infinity();
  ASSERT_TRUE(WriteUserStore(stored, UserStorePath()));
  const TRun fromStore = Run({"--user-settings", "--save-settings", saved, dir.string()});
  oldConfig ? setenv("XDG_CONFIG_HOME", keep.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(fromStore.Status, 2);
  EXPECT_TRUE(fromStore.Lines.empty());
  EXPECT_NE(fromStore.Err.find("not a finite number"), std::string::npos) << fromStore.Err;
  EXPECT_FALSE(fs::exists(saved));
}

TEST_F(TrackToolTest, HelpAndVersion) {
  const TRun help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  ASSERT_FALSE(help.Lines.empty());
  std::string all;
  for (const std::string& l : help.Lines) {
    all += l + "\n";
  }
  EXPECT_NE(all.find("--set"), std::string::npos);
  EXPECT_NE(all.find("--frames"), std::string::npos);
  const TRun version = Run({"--version"});
  EXPECT_EQ(version.Status, 0);
  ASSERT_EQ(version.Lines.size(), 1u);
  EXPECT_EQ(version.Lines[0].rfind("pavrel-track ", 0), 0u);
}

TEST(TrackSettingsTest, EveryNameReachesItsField) {
  TTrackerParameters p = track::StartupParameters();
  const std::vector<std::string> names = track::ParameterNames();
  ASSERT_EQ(names.size(), 10u);
  for (std::size_t i = 0; i < names.size(); ++i) {
    track::ApplySetting(p, names[i] + "=" + std::to_string(100 + i));
  }
  EXPECT_EQ(p.LHueBound, 100);
  EXPECT_EQ(p.HHueBound, 101);
  EXPECT_EQ(p.LSatBound, 102);
  EXPECT_EQ(p.HSatBound, 103);
  EXPECT_EQ(p.LValBound, 104);
  EXPECT_EQ(p.HValBound, 105);
  EXPECT_EQ(p.HeightToWidthRatio, 106.0);
  EXPECT_EQ(p.LoseTrackArea, 107);
  EXPECT_EQ(p.MeanThreshold, 108);
  EXPECT_EQ(p.WindowExpansion, 109);
  track::ApplySetting(p, "HeightToWidthRatio=0.25");
  track::ApplySetting(p, "LoseTrackArea=-3");  // passed on as given; the tracker copes
  EXPECT_EQ(p.HeightToWidthRatio, 0.25);
  EXPECT_EQ(p.LoseTrackArea, -3);
}

}  // namespace
}  // namespace pavrel
