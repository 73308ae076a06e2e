#pragma once

// Runs the real pavrel-track by the shell and keeps what it printed.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pavrel::test {

struct TTrackRun {
  int Status = -1;  // the exit status, -1 when it did not exit normally
  std::string Out;
  std::string Err;
};

inline std::string SlurpFile(const std::filesystem::path& Path) {
  std::ifstream in(Path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `Env 'pavrel-track' Arguments` (Env: an `env ...` prefix, Arguments already quoted),
// with both streams going through files in Dir.
inline TTrackRun RunTrackTool(const std::string& Env, const std::string& Arguments,
                              const std::filesystem::path& Dir) {
  const std::string command = Env + " '" + std::string(PAVREL_TRACK_EXE) + "' " + Arguments +
                              " >'" + (Dir / "out").string() + "' 2>'" + (Dir / "err").string() +
                              "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, SlurpFile(Dir / "out"), SlurpFile(Dir / "err")};
}

}  // namespace pavrel::test
