// pavrel-track: the hand tracker without a window, one JSON object per frame on stdout.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "track/TrackOptions.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    return pavrel::track::TrackMain(arguments, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "pavrel-track: " << e.what() << '\n';
    return 1;
  }
}
