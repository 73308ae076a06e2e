#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "FileSizeLimit.h"
#include "TempFolder.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using test::Listing;
using test::ReadFile;
using test::WriteFile;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kKey = "[HKEY_CURRENT_USER\\Software\\Quillon software\\Pavrel]\n";

// The store as the program writes it for the defaults.
const std::string kDefaultValues =
    "\"LHueBound\"=dword:00000000\n"
    "\"HHueBound\"=dword:000000ff\n"
    "\"LSatBound\"=dword:00000000\n"
    "\"HSatBound\"=dword:000000ff\n"
    "\"LValBound\"=dword:00000000\n"
    "\"HValBound\"=dword:000000ff\n"
    "\"MeanThreshold\"=dword:00000001\n"
    "\"WindowExpansion\"=dword:00000005\n"
    "\"HeightToWidthRatio\"=hex:85,eb,51,b8,1e,85,fb,3f\n"
    "\"LoseTrackArea\"=dword:000000c8\n";

TTrackerParameters Odd() {
  TTrackerParameters p;
  p.LHueBound = -1;
  p.HHueBound = 2147483647;
  p.LSatBound = -2147483647 - 1;
  p.HSatBound = 4;
  p.LValBound = 5;
  p.HValBound = 6;
  p.HeightToWidthRatio = 0.1;
  p.LoseTrackArea = 8;
  p.MeanThreshold = 9;
  p.WindowExpansion = 10;
  return p;
}

class UserStore : public ::testing::Test {
 protected:
  test::TTempFolder Temp;
  std::filesystem::path Folder = Temp.Path() / "config" / "Quillon software";
  std::filesystem::path Store = Folder / "Pavrel.reg";

  TTrackerParameters ReadStore(const std::string& Text) {
    std::filesystem::create_directories(Folder);
    WriteFile(Store, Text);
    TTrackerParameters p = DefaultParameters();
    ReadUserStore(p, Store);
    return p;
  }
};

TEST_F(UserStore, FirstStartUsesDefaultsAndCreatesTheStoreAtClose) {
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, DefaultParameters());
  EXPECT_FALSE(std::filesystem::exists(Folder));

  ASSERT_TRUE(WriteUserStore(p, Store));
  EXPECT_EQ(ReadFile(Store), kHeader + kKey + kDefaultValues + "\n");
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
}

TEST_F(UserStore, RoundTripKeepsEveryBitIncludingNegativesAndTheRatio) {
  ASSERT_TRUE(WriteUserStore(Odd(), Store));
  const std::string text = ReadFile(Store);
  EXPECT_NE(text.find("\"LHueBound\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("\"LSatBound\"=dword:80000000\n"), std::string::npos);
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, Odd());

  // Writing again replaces the values in place; the key is not duplicated.
  ASSERT_TRUE(WriteUserStore(DefaultParameters(), Store));
  EXPECT_EQ(ReadFile(Store), kHeader + kKey + kDefaultValues + "\n");
}

TEST_F(UserStore, ReadingStopsAtTheFirstValueOfTheWrongType) {
  // HHueBound as a string: only LHueBound is taken.
  TTrackerParameters expected = DefaultParameters();
  expected.LHueBound = 10;
  EXPECT_EQ(ReadStore(kHeader + kKey + "\"LHueBound\"=dword:0000000a\n\"HHueBound\"=\"200\"\n"),
            expected);

  // A missing value ends the reading too, although later ones are there.
  EXPECT_EQ(
      ReadStore(kHeader + kKey + "\"LHueBound\"=dword:0000000a\n\"LSatBound\"=dword:00000007\n"),
      expected);

  // The ratio as a dword or as 4 bytes: the eight before it are read, it and LoseTrackArea
  // keep their defaults.
  const std::string eight =
      "\"LHueBound\"=dword:00000001\n\"HHueBound\"=dword:00000002\n"
      "\"LSatBound\"=dword:00000003\n\"HSatBound\"=dword:00000004\n"
      "\"LValBound\"=dword:00000005\n\"HValBound\"=dword:00000006\n"
      "\"MeanThreshold\"=dword:00000007\n\"WindowExpansion\"=dword:00000008\n";
  expected = DefaultParameters();
  expected.LHueBound = 1;
  expected.HHueBound = 2;
  expected.LSatBound = 3;
  expected.HSatBound = 4;
  expected.LValBound = 5;
  expected.HValBound = 6;
  expected.MeanThreshold = 7;
  expected.WindowExpansion = 8;
  for (const char* ratio : {"dword:00000002", "hex:00,00,00,40", "hex:00,00,00,00,00,00,00,40,00",
                            "hex(b):00,00,00,00,00,00,00,40"}) {
    SCOPED_TRACE(ratio);
    EXPECT_EQ(ReadStore(kHeader + kKey + eight + "\"HeightToWidthRatio\"=" + ratio +
                        "\n\"LoseTrackArea\"=dword:00000009\n"),
              expected);
  }

  // Names compare without case, an integer may also be written as hex(4), and the ratio's
  // bytes may continue over several lines.
  expected.HeightToWidthRatio = 2.0;
  expected.LoseTrackArea = 9;
  EXPECT_EQ(
      ReadStore(kHeader + "[hkey_current_user\\software\\quillon SOFTWARE\\pavrel]\r\n" + eight +
                "\"heighttowidthratio\"=hex:00,00,00,00,\\\r\n  00,00,00,40\r\n"
                "\"LoseTrackArea\"=hex(4):09,00,00,00\r\n"),
      expected);
}

TEST_F(UserStore, AStoreInUtf16AsTheRegistryEditorWritesItIsRead) {
  const std::string text = kHeader + kKey + "\"LHueBound\"=dword:0000002a\n";
  std::string utf16 = "\xFF\xFE";
  for (const char c : text) {
    utf16 += c;
    utf16 += '\0';
  }
  TTrackerParameters expected = DefaultParameters();
  expected.LHueBound = 42;
  EXPECT_EQ(ReadStore(utf16), expected);
}

TEST_F(UserStore, ForeignKeysValuesAndCommentsAreKept) {
  const std::string foreignKey =
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Text\"=\"a \\\"quoted\\\" \\\\ word\"\n"
      "@=dword:00000001\n"
      "\"Long\"=hex(7):41,00,42,00,\\\n"
      "  00,00\n";
  const std::string before = kHeader + "; kept comment\n\n" + foreignKey + "\n" + kKey +
                             "\"Mine\"=hex:01,02\n\"LHueBound\"=dword:00000033\n"
                             "; inside\n";
  std::filesystem::create_directories(Folder);
  WriteFile(Store, before);
  ASSERT_TRUE(WriteUserStore(Odd(), Store));

  const std::string after = ReadFile(Store);
  EXPECT_NE(after.find("; kept comment\n"), std::string::npos) << after;
  EXPECT_NE(after.find(foreignKey), std::string::npos) << after;
  EXPECT_NE(after.find("\"Mine\"=hex:01,02\n\"LHueBound\"=dword:ffffffff\n; inside\n"),
            std::string::npos)
      << after;
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, Odd());
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
}

TEST_F(UserStore, AnUnparseableStoreReadsAsEmptyAndIsKeptAsBadWhenWriting) {
  const std::string garbage("\x00\x01garbage\xff\xfe\n[", 14);
  EXPECT_EQ(ReadStore(garbage), DefaultParameters());
  ASSERT_TRUE(WriteUserStore(Odd(), Store));
  EXPECT_EQ(ReadFile(Folder / "Pavrel.reg.bad"), garbage);
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, Odd());

  // An earlier .bad is not overwritten by a later one.
  const std::string truncated = kHeader + kKey + "\"LHueBound\"=dword:0000";
  EXPECT_EQ(ReadStore(truncated), DefaultParameters());
  ASSERT_TRUE(WriteUserStore(DefaultParameters(), Store));
  EXPECT_EQ(ReadFile(Folder / "Pavrel.reg.bad"), garbage);
  EXPECT_EQ(ReadFile(Folder / "Pavrel.reg.bad.1"), truncated);
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;Pavrel.reg.bad;Pavrel.reg.bad.1;");
}

TEST(UserStoreText, MalformedStoresAreRejectedAsAWholeAndChangeNothing) {
  const std::string good =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon software\\Pavrel]\n"
      "\"LHueBound\"=dword:00000001\n";
  for (const std::string& text : {
           std::string("Windows Registry Editor Version 4.00\n"),  // wrong header
           std::string("\"LHueBound\"=dword:00000001\n"),          // no header
           good + "\"HHueBound\"=dword:0000",                      // cut mid-line
           good + "\"HHueBound\"=dword:0000000g\n",                // not hex
           good + "\"HHueBound\"=hex:01,02,\\\n",                  // cut in a continuation
           good + "\"HHueBound\"=hex:01,2\n",                      // half a byte
           good + "\"HHueBound\"=hex:01,,02\n",                    // empty byte
           good + "\"HHueBound\"=\"open string\n",                 // unterminated string
           good + "\"HHueBo",                                      // cut in a name
           good + "[HKEY_CURRENT_USER\\Software\n",                // cut in a key
           good + "stray text\n",                                  // neither key nor value
           good + "\"X\"=-\n",                                     // a deletion, not an export
           good + "[-HKEY_CURRENT_USER\\Software\\Other]\n", good + "\"X\"=hex(zz):01\n",
           good + std::string("\"X\"=\"a\0b\"\n", 10),  // binary
           good + "\"X\"=\"\xc3\x28\"\n",               // invalid UTF-8
           std::string("\xFF\xFEW\0i", 5),              // odd-length UTF-16
       }) {
    SCOPED_TRACE(text);
    TTrackerParameters p = DefaultParameters();
    EXPECT_FALSE(ReadUserStoreText(text, p));
    EXPECT_EQ(p, DefaultParameters());
  }
  TTrackerParameters p = DefaultParameters();
  EXPECT_TRUE(ReadUserStoreText(good, p));
  EXPECT_EQ(p.LHueBound, 1);
  EXPECT_TRUE(ReadUserStoreText("", p));  // an empty file is an empty store
  EXPECT_TRUE(
      ReadUserStoreText("\xEF\xBB\xBF"
                        "REGEDIT4\r\n",
                        p));
}

TEST_F(UserStore, NothingIsWrittenWhereWritingIsImpossible) {
  // The folder cannot be created: its parent is a regular file.
  WriteFile(Temp.Path() / "file", "x");
  EXPECT_FALSE(WriteUserStore(Odd(), Temp.Path() / "file" / "sub" / "Pavrel.reg"));
  EXPECT_EQ(ReadFile(Temp.Path() / "file"), "x");

  // The store's name is taken by a folder.
  std::filesystem::create_directories(Store);
  EXPECT_FALSE(WriteUserStore(Odd(), Store));
  EXPECT_TRUE(std::filesystem::is_directory(Store));
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);  // and reading it is silent
  EXPECT_EQ(p, DefaultParameters());
}

TEST_F(UserStore, AWriteThatFailsMidwayLeavesTheOldStoreByteForByte) {
  const std::string old = kHeader + kKey + "\"LHueBound\"=dword:00000007\n";
  std::filesystem::create_directories(Folder);
  WriteFile(Store, old);
  {
    test::TFileSizeLimit limit(old.size());  // the new store is longer than the old one
    EXPECT_FALSE(WriteUserStore(Odd(), Store));
  }
  EXPECT_EQ(ReadFile(Store), old);
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
}

// Runs Body in a child process as the unprivileged user nobody (the tests run as root, whom
// permission bits do not stop) and answers what it returned.
std::string AsNobody(const std::function<std::string()>& Body) {
  int fds[2];
  if (::pipe(fds) != 0) {
    return "pipe failed";
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::string answer = "cannot become nobody";
    if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
        ::setresuid(65534, 65534, 65534) == 0) {
      answer = Body();
    }
    const ssize_t written = ::write(fds[1], answer.data(), answer.size());
    ::_exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return answer;
}

TEST_F(UserStore, AReadOnlyFolderKeepsTheOldStoreAndTheReasonNamesTheStore) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand the folder to nobody";
  }
  const std::string old = kHeader + kKey + "\"LHueBound\"=dword:00000007\n";
  std::filesystem::create_directories(Folder);
  WriteFile(Store, old);
  // A folder of nobody's that nobody may not write, as a user's own read-only folder.
  std::filesystem::permissions(Temp.Path(), std::filesystem::perms::owner_all |
                                                std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);
  std::filesystem::permissions(Folder.parent_path(), std::filesystem::perms::owner_all |
                                                         std::filesystem::perms::others_exec);
  ASSERT_EQ(::chown(Folder.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(Store.c_str(), 65534, 65534), 0);
  std::filesystem::permissions(
      Folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);

  const std::string answer = AsNobody([&] {
    std::string error;
    return WriteUserStore(Odd(), Store, &error) ? std::string("written") : error;
  });
  EXPECT_EQ(answer,
            "The settings could not be saved in \"" + Store.string() + "\": Permission denied");
  EXPECT_EQ(ReadFile(Store), old);
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
  // Text values report the same way; the folder made writable again takes the store.
  EXPECT_EQ(
      AsNobody([&] {
        std::string error;
        return WriteUserStoreValues({{"PointerFilter", "1"}}, Store, &error) ? "written" : error;
      }),
      answer);
  std::filesystem::permissions(Folder, std::filesystem::perms::owner_all);
  EXPECT_EQ(AsNobody([&] {
              std::string error;
              return WriteUserStore(Odd(), Store, &error) ? "written" : error;
            }),
            "written");
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, Odd());
}

TEST_F(UserStore, EachKindOfFailureSaysWhereAndWhy) {
  WriteFile(Temp.Path() / "file", "x");
  std::string error;
  EXPECT_FALSE(WriteUserStore(Odd(), Temp.Path() / "file" / "sub" / "Pavrel.reg", &error));
  EXPECT_EQ(error, "The settings could not be saved in \"" +
                       (Temp.Path() / "file" / "sub").string() + "\": Not a directory");

  std::filesystem::create_directories(Store);
  EXPECT_FALSE(WriteUserStore(Odd(), Store, &error));
  EXPECT_EQ(error, "The settings could not be saved in \"" + Store.string() +
                       "\": the store cannot be read (Is a directory), so it is left as it is");
  std::filesystem::remove(Store);

  const std::string old = kHeader + kKey + "\"LHueBound\"=dword:00000007\n";
  WriteFile(Store, old);
  {
    test::TFileSizeLimit limit(old.size());
    EXPECT_FALSE(WriteUserStoreValues({{"PointerFilter", "1"}}, Store, &error));
  }
  EXPECT_EQ(error, "The settings could not be saved in \"" + Store.string() + "\": File too large");
  EXPECT_EQ(ReadFile(Store), old);
  EXPECT_EQ(Listing(Folder), "Pavrel.reg;");
}

TEST_F(UserStore, ASaveRemovesTemporaryFilesOfKilledSavesButNotOfRunningOnes) {
  // A process that has ended, and one that still runs.
  const pid_t dead = ::fork();
  if (dead == 0) {
    ::_exit(0);
  }
  ::waitpid(dead, nullptr, 0);
  const pid_t alive = ::fork();
  if (alive == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string deadName = "Pavrel.reg.tmp-" + std::to_string(dead) + "-17-0";
  const std::string aliveName = "Pavrel.reg.tmp-" + std::to_string(alive) + "-17-0";
  std::filesystem::create_directories(Folder);
  // Names that only look alike are never touched.
  const std::vector<std::string> kept = {aliveName,
                                         "Other.reg.tmp-" + std::to_string(dead) + "-17-0",
                                         deadName + ".bak",
                                         "Pavrel.reg.tmp-" + std::to_string(dead) + "-17",
                                         "Pavrel.reg.tmp-x" + std::to_string(dead) + "-17-0",
                                         "Pavrel.reg.bad"};
  for (const std::string& name : kept) {
    WriteFile(Folder / name, "half a store");
  }
  WriteFile(Folder / deadName, "half a store");

  ASSERT_TRUE(WriteUserStore(Odd(), Store));
  ::kill(alive, SIGKILL);
  ::waitpid(alive, nullptr, 0);
  EXPECT_FALSE(std::filesystem::exists(Folder / deadName));
  for (const std::string& name : kept) {
    EXPECT_EQ(ReadFile(Folder / name), "half a store") << name;
  }
  // Settings files are cleaned up the same way, beside the file saved.
  const auto pvl = Temp.Path() / "a.pvl";
  WriteFile(Temp.Path() / ("a.pvl.tmp-" + std::to_string(dead) + "-1-2"), "<par");
  SaveSettingsFile(Odd(), pvl.string());
  EXPECT_FALSE(
      std::filesystem::exists(Temp.Path() / ("a.pvl.tmp-" + std::to_string(dead) + "-1-2")));
}

TEST_F(UserStore, SavesKilledAtAnyMomentLeaveTheOldOrTheNewStoreAndTheNextSaveTidiesUp) {
  TTrackerParameters other = Odd();
  other.LHueBound = 77;
  ASSERT_TRUE(WriteUserStore(Odd(), Store));
  std::mt19937 random(7);
  int leftovers = 0;
  for (int round = 0; round < 100; ++round) {
    const pid_t saver = ::fork();
    if (saver == 0) {
      for (bool flip = false;; flip = !flip) {
        WriteUserStore(flip ? Odd() : other, Store);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    ::kill(saver, SIGKILL);
    ::waitpid(saver, nullptr, 0);
    TTrackerParameters p = DefaultParameters();
    ASSERT_TRUE(ReadUserStoreText(ReadFile(Store), p)) << "round " << round;
    ASSERT_TRUE(p == Odd() || p == other) << "round " << round;
    // Whatever the kill left, the next save leaves nothing but the store.
    leftovers += Listing(Folder) != "Pavrel.reg;";
    ASSERT_TRUE(WriteUserStore(p, Store));
    ASSERT_EQ(Listing(Folder), "Pavrel.reg;") << "round " << round;
  }
  RecordProperty("KillsThatLeftATemporaryFile", leftovers);
}

TEST_F(UserStore, TextValuesLiveBesideTheParametersWithoutDisturbingThem) {
  ASSERT_TRUE(WriteUserStore(Odd(), Store));
  ASSERT_TRUE(WriteUserStoreValues({{"PointerFilter", "1"}, {"Path", "a \"b\" \\ c"}}, Store));
  // Writing the parameters again keeps the text values, and the reverse.
  ASSERT_TRUE(WriteUserStore(DefaultParameters(), Store));
  ASSERT_TRUE(WriteUserStoreValues({{"PointerFilter", "0"}}, Store));
  const TStoreValues values = ReadUserStoreValues(Store);
  EXPECT_EQ(values, (TStoreValues{{"Path", "a \"b\" \\ c"}, {"PointerFilter", "0"}}));
  TTrackerParameters p = Odd();
  ReadUserStore(p, Store);
  EXPECT_EQ(p, DefaultParameters());
  EXPECT_EQ(ReadFile(Store).find(kDefaultValues), kHeader.size() + kKey.size());
  EXPECT_TRUE(ReadUserStoreValues(Temp.Path() / "missing.reg").empty());
}

TEST(UserStoreText, HexNumbersAreDigitsOnlyInEitherCase) {
  const std::string key =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon software\\Pavrel]\n";
  // What a general number reader would take: signs, a 0x prefix, a blank before the digits.
  for (const char* value : {"dword:-0000001", "dword:+0000001", "dword:0x00002a", "dword: 000002a",
                            "hex:+1", "hex:-1", "hex:0x", "hex(+4):01,00,00,00",
                            "hex(-4):01,00,00,00", "hex( 4):01,00,00,00", "hex(123456789):01"}) {
    SCOPED_TRACE(value);
    TTrackerParameters p = DefaultParameters();
    EXPECT_FALSE(ReadUserStoreText(key + "\"LHueBound\"=" + value + "\n", p));
    EXPECT_EQ(p, DefaultParameters());
  }
  TTrackerParameters p = DefaultParameters();
  ASSERT_TRUE(ReadUserStoreText(
      key + "\"LHueBound\"=dword:0000002A\n\"HHueBound\"=hex(4):Fe,00,00,00\n", p));
  EXPECT_EQ(p.LHueBound, 42);
  EXPECT_EQ(p.HHueBound, 254);
}

TEST(UserStorePath, FollowsXdgConfigHomeAndFallsBackToHomeConfig) {
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg = savedXdg ? savedXdg : "";
  const char* savedHome = std::getenv("HOME");
  const std::string home = savedHome ? savedHome : "";
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "/x/config", 1);
  EXPECT_EQ(UserStorePath(), "/x/config/Quillon software/Pavrel.reg");
  setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(UserStorePath(), "/home/someone/.config/Quillon software/Pavrel.reg");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as XDG asks
  EXPECT_EQ(UserStorePath(), "/home/someone/.config/Quillon software/Pavrel.reg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(UserStorePath(), "/home/someone/.config/Quillon software/Pavrel.reg");
  savedXdg ? setenv("XDG_CONFIG_HOME", xdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
  savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}

}  // namespace
}  // namespace pavrel
