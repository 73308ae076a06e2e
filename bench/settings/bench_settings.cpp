// The settings-file reader on files no one saves but anyone can pick in Open Settings...:
// element nesting 1k to 100k deep, 1k to 100k elements side by side, and values of 1 and
// 10 MB. Each should cost time linear in its bytes or less (a refusal), never more.

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/Settings.h"

namespace {

const std::string kNineValues =
    "<LHueBound>1</LHueBound><HHueBound>2</HHueBound><LSatBound>3</LSatBound>"
    "<HSatBound>4</HSatBound><LValBound>5</LValBound><HValBound>6</HValBound>"
    "<MeanThreshold>9</MeanThreshold><WindowExpansion>10</WindowExpansion>"
    "<HeightToWidthRatio>2.50</HeightToWidthRatio>";

std::string Repeated(const std::string& Piece, std::int64_t Times) {
  std::string text;
  text.reserve(Piece.size() * static_cast<std::size_t>(Times));
  for (std::int64_t i = 0; i < Times; ++i) {
    text += Piece;
  }
  return text;
}

// Reads Text once per iteration; Loads says whether it should load or be refused.
void ReadEach(benchmark::State& State, const std::string& Text, bool Loads) {
  for (auto _ : State) {
    pavrel::TTrackerParameters params = pavrel::DefaultParameters();
    bool loaded = true;
    try {
      pavrel::ReadSettingsText(Text, params);
    } catch (const pavrel::ESettingsError&) {
      loaded = false;
    }
    if (loaded != Loads) {
      State.SkipWithError(Loads ? "refused" : "loaded");
      break;
    }
    benchmark::DoNotOptimize(params);
  }
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(Text.size()));
  State.SetComplexityN(State.range(0));
}

// Elements nested Depth levels deep (refused at the 65th).
void BM_DeepNesting(benchmark::State& State) {
  const std::string text = "<parameters>" + Repeated("<x>", State.range(0)) +
                           Repeated("</x>", State.range(0)) + "</parameters>";
  ReadEach(State, text, false);
}
BENCHMARK(BM_DeepNesting)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A file that loads, with this many other elements beside the ten: the whole document is
// parsed, so the time shows the reader's cost per byte.
void BM_ManyElements(benchmark::State& State) {
  const std::string text = "<parameters>" + kNineValues + "<LoseTrackArea>0</LoseTrackArea>" +
                           Repeated("<x a=\"1\">2</x>", State.range(0)) + "</parameters>";
  ReadEach(State, text, true);
}
BENCHMARK(BM_ManyElements)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// One value of this many bytes, refused as a number with 40 of its characters quoted.
void BM_LongValue(benchmark::State& State) {
  const std::string text = "<parameters>" + kNineValues + "<LoseTrackArea>" +
                           Repeated("7", State.range(0)) + "</LoseTrackArea></parameters>";
  ReadEach(State, text, false);
}
BENCHMARK(BM_LongValue)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// The same values as files opened from disk: a file over 1 MiB is refused while it is read.
void BM_OpenLongValueFile(benchmark::State& State) {
  const std::string text = "<parameters>" + kNineValues + "<LoseTrackArea>" +
                           Repeated("7", State.range(0)) + "</LoseTrackArea></parameters>";
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("pavrel-bench-" + std::to_string(::getpid()) + ".pvl");
  std::ofstream(file, std::ios::binary) << text;
  for (auto _ : State) {
    pavrel::TTrackerParameters params = pavrel::DefaultParameters();
    try {
      pavrel::OpenSettingsFile(file.string(), params);
      State.SkipWithError("loaded");
      break;
    } catch (const pavrel::ESettingsError&) {
    }
  }
  std::filesystem::remove(file);
}
BENCHMARK(BM_OpenLongValueFile)->Arg(1000000)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
