// The learned colour model in the per-user store: a round trip beside the ten parameters,
// the seed's model as the answer to anything unreadable, and nothing else disturbed.

#include <gtest/gtest.h>

#include <fstream>

#include "TempFolder.h"
#include "settings/ColourModelStore.h"
#include "settings/Settings.h"

namespace pavrel::test {
namespace {

TSkinExamples SomeExamples() {
  TSkinExamples e;
  for (int i = 0; i < 300; ++i) {
    e.Add(true,
          {static_cast<std::uint8_t>(110 + i % 20), 140, static_cast<std::uint8_t>(200 + i % 30)});
    e.Add(false, {static_cast<std::uint8_t>(i % 256), static_cast<std::uint8_t>(i * 7 % 256), 90});
  }
  return e;
}

TTrackerParameters Tuned() {
  TTrackerParameters p = DefaultParameters();
  p.LHueBound = -6;
  p.HHueBound = 300;
  p.HeightToWidthRatio = 2.5;
  return p;
}

TEST(ColourModelStore, TheLearnedModelComesBackBesideTheTenParameters) {
  TTempFolder temp;
  const auto store = temp.Path() / "Pavrel.reg";
  EXPECT_FALSE(ReadStoredColourModel(store));  // no store: the seed's model
  ASSERT_TRUE(WriteUserStore(Tuned(), store));
  ASSERT_TRUE(WriteStoredColourModel(SomeExamples(), store));
  const std::optional<TSkinExamples> back = ReadStoredColourModel(store);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, SomeExamples());
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, store);
  EXPECT_EQ(p, Tuned());

  // Back to the seed's model: the learned data stays for later, unused.
  ASSERT_TRUE(WriteStoredColourModel(std::nullopt, store));
  EXPECT_FALSE(ReadStoredColourModel(store));
  EXPECT_EQ(ReadUserStoreValues(store).at(ColourModelValueName), "seed");
  EXPECT_TRUE(ReadUserStoreValues(store).count(ColourModelDataValueName));
}

TEST(ColourModelStore, UnreadableDataMeansTheSeedsModelAndLeavesTheParametersAlone) {
  TTempFolder temp;
  const auto store = temp.Path() / "Pavrel.reg";
  ASSERT_TRUE(WriteUserStore(Tuned(), store));
  for (const char* data : {"", "skinmodel 1", "skinmodel 1 S:3:", "garbage", "skinmodel 1 B:2:5"}) {
    ASSERT_TRUE(WriteUserStoreValues(
        {{ColourModelValueName, "learned"}, {ColourModelDataValueName, data}}, store));
    EXPECT_FALSE(ReadStoredColourModel(store)) << data;
  }
  ASSERT_TRUE(WriteUserStoreValues(
      {{ColourModelValueName, "other"}, {ColourModelDataValueName, SomeExamples().ToText()}},
      store));
  EXPECT_FALSE(ReadStoredColourModel(store));
  TTrackerParameters p = DefaultParameters();
  ReadUserStore(p, store);
  EXPECT_EQ(p, Tuned());
}

}  // namespace
}  // namespace pavrel::test
