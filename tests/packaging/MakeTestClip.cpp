// make-test-clip FILE.webm: the tests' moving-ball clip (45 VP8 frames, a skin-coloured ball
// over a blue wall), for checks that run the installed pavrel-track on a real video file.

#include <exception>
#include <filesystem>
#include <iostream>

#include "TestClips.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-test-clip FILE.webm\n";
    return 2;
  }
  try {
    pavrel::test::TTestClips clips;
    std::filesystem::copy_file(clips.Moving(), argv[1],
                               std::filesystem::copy_options::overwrite_existing);
  } catch (const std::exception& e) {
    std::cerr << "make-test-clip: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
