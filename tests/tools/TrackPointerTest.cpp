// pavrel-track --pointer: the position the translator sends in every line, the pointer
// settings through --set and the per-user store, and the original pointer by default.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <array>
#include <set>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct TRun {
  int Status = -1;
  std::vector<json> Lines;
  std::string Err;
};

class TrackPointer : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("pavrel-track-pointer-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  TRun Run(const std::vector<std::string>& Arguments, const std::string& Environment = {}) {
    std::string command = Environment + " '" + PAVREL_TRACK_EXE + "'";
    for (const std::string& a : Arguments) {
      command += " '" + a + "'";
    }
    command += " >'" + (FDir / "out").string() + "' 2>'" + (FDir / "err").string() + "'";
    TRun run;
    const int raw = std::system(command.c_str());
    run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream out(FDir / "out");
    for (std::string line; std::getline(out, line);) {
      run.Lines.push_back(json::parse(line));
    }
    std::ifstream err(FDir / "err");
    run.Err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
  }

  static std::string Clip() {
    const char* media = std::getenv("PAVREL_MEDIA_DIR");
    return std::string(media ? media : "media") + "/asl_hand.mp4";
  }

  fs::path FDir;
};

// Skin bounds for the shared hand clip.
const std::vector<std::string> Skin = {"--set",        "HHueBound=30", "--set",
                                       "LSatBound=40", "--set",        "LValBound=60"};

std::vector<std::string> With(std::vector<std::string> A, const std::vector<std::string>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// The original pointer, worked from the printed centres: the integer mean of the four centres
// before the newest ((-1, -1) before the first), (c - 10) / 160 * 1.14 * 65535 and
// (r - 10) / 120 * 1.2 * 65535, halves to even.
TEST_F(TrackPointer, DefaultsSendTheOriginalPointerOnTheSharedClip) {
  const TRun run = Run(With(Skin, {"--pointer", Clip()}));
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 325u);
  std::vector<std::array<std::int64_t, 2>> centres(4, {-1, -1});
  std::set<std::array<std::int64_t, 2>> distinct;
  for (const json& line : run.Lines) {
    ASSERT_TRUE(line.contains("pointer")) << line;
    std::int64_t rows = 0, columns = 0;
    for (const auto& c : centres) {
      rows += c[0];
      columns += c[1];
    }
    const double x = static_cast<double>(columns / 4 - 10) / 160 * 1.14 * 65535;
    const double y = static_cast<double>(rows / 4 - 10) / 120 * 1.2 * 65535;
    ASSERT_EQ(line["pointer"], json::array({RoundHalfEven(x), RoundHalfEven(y)})) << line;
    distinct.insert({RoundHalfEven(x), RoundHalfEven(y)});
    centres.erase(centres.begin());
    centres.push_back(
        {line["centre"][0].get<std::int64_t>(), line["centre"][1].get<std::int64_t>()});
  }
  EXPECT_GT(distinct.size(), 20u) << "the hand moves";

  // Without --pointer the lines stay as they were.
  const TRun plain = Run(With(Skin, {"--frames", "3", Clip()}));
  ASSERT_EQ(plain.Lines.size(), 3u);
  EXPECT_FALSE(plain.Lines[0].contains("pointer"));
}

TEST_F(TrackPointer, PointerSettingsComeFromTheStoreAndSetAndBadOnesAreUsageErrors) {
  const fs::path config = FDir / "config";
  const fs::path store = config / "Quillon software" / "Pavrel.reg";
  fs::create_directories(store.parent_path());
  ASSERT_TRUE(WriteUserStoreValues({{"PointerFilter", "1"}, {"PauseGesture", "1"}}, store));
  const std::string env = "XDG_CONFIG_HOME='" + config.string() + "'";

  const TRun original = Run(With(Skin, {"--pointer", "--frames", "60", Clip()}), env);
  const TRun filtered =
      Run(With(Skin, {"--pointer", "--user-settings", "--frames", "60", Clip()}), env);
  const TRun set = Run(With(Skin, {"--pointer", "--set", "PointerFilter=1", "--set",
                                   "PauseGesture=1", "--frames", "60", Clip()}));
  ASSERT_EQ(original.Status, 0) << original.Err;
  ASSERT_EQ(filtered.Status, 0) << filtered.Err;
  ASSERT_EQ(set.Status, 0) << set.Err;
  ASSERT_EQ(filtered.Lines.size(), 60u);
  EXPECT_EQ(filtered.Lines, set.Lines);
  EXPECT_NE(filtered.Lines, original.Lines);
  // The One Euro filter's first pointer is the first centre itself, not the fresh (-1, -1).
  EXPECT_NE(filtered.Lines[0]["pointer"], original.Lines[0]["pointer"]);

  const TRun bad = Run({"--pointer", "--set", "OneEuroBeta=fast", Clip()});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("OneEuroBeta needs a number"), std::string::npos) << bad.Err;
  EXPECT_TRUE(bad.Lines.empty());
  const TRun range = Run({"--set", "DwellTime=5", Clip()});
  EXPECT_EQ(range.Status, 2);
  EXPECT_NE(range.Err.find("DwellTime needs a whole number in 100..10000"), std::string::npos)
      << range.Err;
}

// The hand out of the picture: with the pause gesture on, nothing is sent ("pointer": null).
TEST_F(TrackPointer, NothingSentIsNull) {
  const TRun run = Run({"--pointer", "--set", "PauseGesture=1", "--set", "LHueBound=200", "--set",
                        "HHueBound=201", "--frames", "5", Clip()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(run.Lines.size(), 5u);
  for (const json& line : run.Lines) {
    EXPECT_TRUE(line["pointer"].is_null()) << line;
  }
}

}  // namespace
}  // namespace pavrel
