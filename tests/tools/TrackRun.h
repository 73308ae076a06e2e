#pragma once

// One pavrel-track run in this process: its exit status, output lines and error text.

#include <sstream>
#include <string>
#include <vector>

#include "track/TrackOptions.h"

namespace pavrel::test {

struct TRun {
  int Status = -1;
  std::vector<std::string> Lines;
  std::string Err;
};

inline TRun Track(const std::vector<std::string>& Arguments) {
  std::ostringstream out, err;
  TRun run;
  run.Status = track::TrackMain(Arguments, out, err);
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    run.Lines.push_back(line);
  }
  run.Err = err.str();
  return run;
}

}  // namespace pavrel::test
