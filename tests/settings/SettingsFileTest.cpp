// Settings files under a locale whose decimal separator is a full stop (LC_ALL=en_US.UTF-8).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>

#include "FileSizeLimit.h"
#include "TempFolder.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using test::Listing;
using test::ReadFile;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TTrackerParameters Sample() {
  TTrackerParameters p;
  p.LHueBound = 1;
  p.HHueBound = 2;
  p.LSatBound = 3;
  p.HSatBound = 4;
  p.LValBound = 5;
  p.HValBound = 6;
  p.HeightToWidthRatio = 2.5;
  p.LoseTrackArea = -8;
  p.MeanThreshold = 9;
  p.WindowExpansion = 10;
  return p;
}

// The message ReadSettingsText raises, or "" when it loads.
std::string OpenError(const std::string& Text, TTrackerParameters& Params) {
  try {
    ReadSettingsText(Text, Params);
  } catch (const ESettingsError& e) {
    return e.what();
  }
  return "";
}

std::string Document(const std::string& Children) {
  return "<parameters>" + Children + "</parameters>";
}

const std::string kAllButLoseTrackArea =
    "<LHueBound>1</LHueBound><HHueBound>2</HHueBound><LSatBound>3</LSatBound>"
    "<HSatBound>4</HSatBound><LValBound>5</LValBound><HValBound>6</HValBound>"
    "<MeanThreshold>9</MeanThreshold><WindowExpansion>10</WindowExpansion>"
    "<HeightToWidthRatio>2.50</HeightToWidthRatio>";

TEST(SettingsFile, SavesTheDefaultsAsExactlyTenElementsWithNothingBetween) {
  EXPECT_EQ(SettingsText(DefaultParameters()),
            "<parameters><LHueBound>0</LHueBound><HHueBound>255</HHueBound>"
            "<LValBound>0</LValBound><HValBound>255</HValBound><LSatBound>0</LSatBound>"
            "<HSatBound>255</HSatBound><MeanThreshold>1</MeanThreshold>"
            "<WindowExpansion>5</WindowExpansion><HeightToWidthRatio>1.72</HeightToWidthRatio>"
            "<LoseTrackArea>200</LoseTrackArea></parameters>");
}

TEST(SettingsFile, WritesTheRatioWithTwoDecimalsAndIntegersPlain) {
  const auto ratio = [](double Value) {
    TTrackerParameters p = DefaultParameters();
    p.HeightToWidthRatio = Value;
    const std::string text = SettingsText(p);
    const auto begin = text.find("<HeightToWidthRatio>") + 20;
    return text.substr(begin, text.find("</HeightToWidthRatio>") - begin);
  };
  EXPECT_EQ(ratio(2), "2.00");
  EXPECT_EQ(ratio(0.1), "0.10");
  EXPECT_EQ(ratio(4.005), "4.00");  // 4.005 is stored a little below the half
  EXPECT_EQ(ratio(0.015625), "0.02");
  EXPECT_EQ(ratio(-1.5), "-1.50");
  EXPECT_EQ(ratio(12345.678), "12345.68");             // no grouping
  EXPECT_EQ(ratio(1e20), "100000000000000000000.00");  // no exponent

  TTrackerParameters p = DefaultParameters();
  p.LoseTrackArea = -2147483647 - 1;
  p.MeanThreshold = 2147483647;
  EXPECT_THAT(SettingsText(p), HasSubstr("<MeanThreshold>2147483647</MeanThreshold>"));
  EXPECT_THAT(SettingsText(p), HasSubstr("<LoseTrackArea>-2147483648</LoseTrackArea>"));
}

TEST(SettingsFile, SaveThenOpenGivesTheSameSet) {
  test::TTempFolder temp;
  const std::string name = (temp.Path() / "a.pvl").string();
  SaveSettingsFile(Sample(), name);
  TTrackerParameters p = DefaultParameters();
  OpenSettingsFile(name, p);
  EXPECT_EQ(p, Sample());

  // Saving again replaces the file and leaves nothing else in the folder.
  SaveSettingsFile(DefaultParameters(), name);
  EXPECT_EQ(ReadFile(name), SettingsText(DefaultParameters()));
  EXPECT_EQ(Listing(temp.Path()), "a.pvl;");
}

TEST(SettingsFile, ReadsElementsInAnyOrderWithWhiteSpaceAndOtherChildren) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- saved by hand -->\n"
      "<settings>\n"
      "  <LoseTrackArea>-8</LoseTrackArea>\n  <Unknown a=\"1\"><x/></Unknown>\n"
      "  <HeightToWidthRatio> 2.5 </HeightToWidthRatio>\n"
      "  <WindowExpansion>+10</WindowExpansion>\r\n\t<MeanThreshold>9</MeanThreshold>\n"
      "  <HValBound>6</HValBound><LValBound>5</LValBound><HSatBound>4</HSatBound>\n"
      "  <LSatBound>3</LSatBound><HHueBound><![CDATA[2]]></HHueBound>\n"
      "  <LHueBound>1</LHueBound>\n  <LHueBound>99</LHueBound>\n"
      "</settings>\n";
  TTrackerParameters p = DefaultParameters();
  EXPECT_EQ(OpenError(text, p), "");
  EXPECT_EQ(p, Sample());  // the first of two equal names counts

  TTrackerParameters q = DefaultParameters();
  EXPECT_EQ(OpenError("<parameters><HeightToWidthRatio>1.5e1</HeightToWidthRatio>" +
                          kAllButLoseTrackArea.substr(0, kAllButLoseTrackArea.find("<Height")) +
                          "<LoseTrackArea>0</LoseTrackArea></parameters>",
                      q),
            "");
  EXPECT_EQ(q.HeightToWidthRatio, 15.0);
}

TEST(SettingsFile, AFailedOpenChangesNothing) {
  // Each file is wrong in one value only; the values before it in the reading order would
  // load, but nothing may change.
  struct TCase {
    std::string Text;
    std::string Message;
  };
  const std::string firstEight =
      kAllButLoseTrackArea.substr(0, kAllButLoseTrackArea.find("<Height"));
  const TCase cases[] = {
      {Document(kAllButLoseTrackArea), "'' is not a valid integer value"},
      {Document(kAllButLoseTrackArea + "<LoseTrackArea>20O</LoseTrackArea>"),
       "'20O' is not a valid integer value"},
      {Document(kAllButLoseTrackArea + "<LoseTrackArea>2147483648</LoseTrackArea>"),
       "'2147483648' is not a valid integer value"},
      {Document(kAllButLoseTrackArea + "<LoseTrackArea>1.0</LoseTrackArea>"),
       "'1.0' is not a valid integer value"},
      {Document(kAllButLoseTrackArea + "<LoseTrackArea>0x10</LoseTrackArea>"),
       "'0x10' is not a valid integer value"},
      {Document(firstEight + "<HeightToWidthRatio>1,72</HeightToWidthRatio>"
                             "<LoseTrackArea>1</LoseTrackArea>"),
       "'1,72' is not a valid floating point value"},
      {Document(firstEight + "<HeightToWidthRatio>nan</HeightToWidthRatio>"),
       "'nan' is not a valid floating point value"},
      {Document(firstEight + "<HeightToWidthRatio>1e999</HeightToWidthRatio>"),
       "'1e999' is not a valid floating point value"},
      {Document(firstEight + "<HeightToWidthRatio>1e</HeightToWidthRatio>"),
       "'1e' is not a valid floating point value"},
      {Document(firstEight + "<HeightToWidthRatio>.</HeightToWidthRatio>"),
       "'.' is not a valid floating point value"},
      {Document("<LHueBound>1<b>2</b></LHueBound>"), "Element does not contain a single text node"},
      {Document("<LHueBound><!--c-->1</LHueBound>"), "Element does not contain a single text node"},
      {Document(firstEight + "<HeightToWidthRatio><v>1</v></HeightToWidthRatio>"),
       "Element does not contain a single text node"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    TTrackerParameters p = DefaultParameters();
    EXPECT_EQ(OpenError(c.Text, p), c.Message);
    EXPECT_EQ(p, DefaultParameters());
  }
}

TEST(SettingsFile, ANotWellFormedFileReportsReasonLineAndTheLinesFirst40Characters) {
  const std::string longLine =
      "<HHueBound>2</HHueBound><LSatBound>3</LSatBound><HSatBound>4</HSatBound>";
  const std::string text =
      "<parameters>\n<LHueBound>1</LHueBound>\n" + longLine + "</HSat>\n</parameters>\n";
  TTrackerParameters p = DefaultParameters();
  const std::string message = OpenError(text, p);
  EXPECT_EQ(p, DefaultParameters());
  const auto lineAt = message.find("\nLine: 3\n");
  ASSERT_NE(lineAt, std::string::npos) << message;
  EXPECT_GT(lineAt, 0u);  // a reason comes first
  EXPECT_EQ(message.substr(lineAt + 9), longLine.substr(0, 40));

  // Line numbers count from 1; a short line is given whole, without its CR.
  EXPECT_THAT(OpenError("<parameters>\r\n<a></b>\r\n</parameters>", p),
              testing::EndsWith("\nLine: 2\n<a></b>"));
  EXPECT_THAT(OpenError("", p), HasSubstr("\nLine: "));
  // 40 characters, not 40 bytes: "<a>" and 37 two-byte letters of a longer line.
  std::string letters;
  for (int i = 0; i < 40; ++i) {
    letters += "\xc3\xa9";
  }
  EXPECT_THAT(OpenError("<a>" + letters + " <</a>", p),
              testing::EndsWith("\nLine: 1\n<a>" + letters.substr(0, 74)));
  EXPECT_EQ(p, DefaultParameters());
}

TEST(SettingsFile, OpenAndSaveErrorsNameTheFile) {
  test::TTempFolder temp;
  TTrackerParameters p = DefaultParameters();
  const std::string missing = (temp.Path() / "missing.pvl").string();
  try {
    OpenSettingsFile(missing, p);
    ADD_FAILURE() << "opened a missing file";
  } catch (const ESettingsError& e) {
    EXPECT_THAT(e.what(), HasSubstr(missing));
  }

  WriteFile(temp.Path() / "file", "x");
  const std::string unwritable = (temp.Path() / "file" / "a.pvl").string();
  try {
    SaveSettingsFile(p, unwritable);
    ADD_FAILURE() << "saved below a regular file";
  } catch (const ESettingsError& e) {
    EXPECT_THAT(e.what(), StartsWith("Cannot save the settings file \"" + unwritable + "\": "));
  }
  EXPECT_EQ(Listing(temp.Path()), "file;");
}

TEST(SettingsFile, SavingThroughASymbolicLinkKeepsTheLinkAndARefusedSaveChangesNothing) {
  test::TTempFolder temp;
  const auto real = temp.Path() / "real.pvl";
  const auto link = temp.Path() / "link.pvl";
  WriteFile(real, "old");
  std::filesystem::create_symlink("real.pvl", link);
  SaveSettingsFile(Sample(), link.string());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), SettingsText(Sample()));

  if (geteuid() != 0) {  // root may write anything; the refusal is for users
    std::filesystem::permissions(real, std::filesystem::perms::owner_read);
    EXPECT_THROW(SaveSettingsFile(DefaultParameters(), real.string()), ESettingsError);
    EXPECT_EQ(ReadFile(real), SettingsText(Sample()));
  }
  EXPECT_EQ(Listing(temp.Path()), "link.pvl;real.pvl;");
}

TEST(SettingsFile, ASaveThatFailsMidwayLeavesTheOldFile) {
  test::TTempFolder temp;
  const auto name = temp.Path() / "a.pvl";
  WriteFile(name, "<parameters/>");
  {
    test::TFileSizeLimit limit(100);
    EXPECT_THROW(SaveSettingsFile(Sample(), name.string()), ESettingsError);
  }
  EXPECT_EQ(ReadFile(name), "<parameters/>");
  EXPECT_EQ(Listing(temp.Path()), "a.pvl;");
}

std::string Repeated(const std::string& Piece, std::size_t Times) {
  std::string text;
  text.reserve(Piece.size() * Times);
  for (std::size_t i = 0; i < Times; ++i) {
    text += Piece;
  }
  return text;
}

TEST(SettingsFileLimits, NestingDeeperThan64LevelsIsRefusedWhereItIsMet) {
  // 64 levels in all, the document element included, still load.
  const std::string allowed = Document(kAllButLoseTrackArea + "<LoseTrackArea>-8</LoseTrackArea>" +
                                       Repeated("<x>", 63) + Repeated("</x>", 63));
  TTrackerParameters p = DefaultParameters();
  EXPECT_EQ(OpenError(allowed, p), "");
  EXPECT_EQ(p, Sample());

  for (const std::size_t depth : {65u, 100000u}) {
    SCOPED_TRACE(depth);
    // The 65th start tag is refused before the parser sees the rest, broken or not.
    const std::string text = Document(kAllButLoseTrackArea + "<LoseTrackArea>0</LoseTrackArea>\n" +
                                      Repeated("<x>", depth - 1) + "<<<");
    TTrackerParameters q = DefaultParameters();
    EXPECT_EQ(OpenError(text, q), "Elements are nested more than 64 levels deep\nLine: 2\n" +
                                      Repeated("<x>", 13) + "<");
    EXPECT_EQ(q, DefaultParameters());
  }
}

TEST(SettingsFileLimits, ErrorMessagesQuoteAtMost40CharactersOfAValue) {
  const std::string megabyte = Repeated("9", 1u << 20);
  TTrackerParameters p = DefaultParameters();
  EXPECT_EQ(
      OpenError(Document(kAllButLoseTrackArea + "<LoseTrackArea>" + megabyte + "</LoseTrackArea>"),
                p),
      "'" + Repeated("9", 40) + "\u2026' is not a valid integer value");
  // Characters, not bytes: an accented letter is never cut in two.
  const std::string firstEight =
      kAllButLoseTrackArea.substr(0, kAllButLoseTrackArea.find("<Height"));
  EXPECT_EQ(OpenError(Document(firstEight + "<HeightToWidthRatio>" + Repeated("\xc3\xa9", 500000) +
                               "</HeightToWidthRatio>"),
                      p),
            "'" + Repeated("\xc3\xa9", 40) + "\u2026' is not a valid floating point value");
  // Exactly 40 characters are quoted whole.
  EXPECT_EQ(OpenError(Document(kAllButLoseTrackArea + "<LoseTrackArea>" + Repeated("x", 40) +
                               "</LoseTrackArea>"),
                      p),
            "'" + Repeated("x", 40) + "' is not a valid integer value");
  EXPECT_EQ(p, DefaultParameters());
}

TEST(SettingsFileLimits, AFileLargerThanOneMebibyteIsRefusedWhileItIsRead) {
  test::TTempFolder temp;
  const auto name = temp.Path() / "big.pvl";
  // White space between elements is allowed: the same file padded to the limit loads ...
  const std::string saved = SettingsText(Sample());
  WriteFile(name, saved + std::string((1u << 20) - saved.size(), ' '));
  TTrackerParameters p = DefaultParameters();
  OpenSettingsFile(name.string(), p);
  EXPECT_EQ(p, Sample());
  // ... and one byte more, or ten megabytes, does not.
  for (const std::size_t extra : {std::size_t{1}, std::size_t{10} << 20}) {
    WriteFile(name, saved + std::string((1u << 20) - saved.size() + extra, ' '));
    TTrackerParameters q = DefaultParameters();
    try {
      OpenSettingsFile(name.string(), q);
      ADD_FAILURE() << "opened a file over the limit";
    } catch (const ESettingsError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot open the settings file \"" + name.string() + "\": File too large");
    }
    EXPECT_EQ(q, DefaultParameters());
  }
}

TEST(SettingsFileLimits, ARatioThatIsNotAFiniteNumberIsNeverSaved) {
  test::TTempFolder temp;
  const auto name = temp.Path() / "a.pvl";
  WriteFile(name, "old");
  for (const double ratio :
       {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(ratio);
    TTrackerParameters p = Sample();
    p.HeightToWidthRatio = ratio;
    try {
      SaveSettingsFile(p, name.string());
      ADD_FAILURE() << "saved a ratio of " << ratio;
    } catch (const ESettingsError& e) {
      EXPECT_THAT(e.what(),
                  StartsWith("Cannot save the settings file \"" + name.string() + "\": "));
      EXPECT_THAT(e.what(), HasSubstr("not a finite number"));
    }
    EXPECT_EQ(ReadFile(name), "old");
  }
  EXPECT_EQ(Listing(temp.Path()), "a.pvl;");
}

}  // namespace
}  // namespace pavrel
