// Writes the demo sequence as numbered BMP files: make-demo-frames FOLDER COUNT.

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "DemoFrames.h"
#include "image/BmpFile.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make-demo-frames FOLDER COUNT\n";
    return 2;
  }
  try {
    const std::filesystem::path folder(argv[1]);
    const int count = std::stoi(argv[2]);
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
      const std::string number = std::to_string(i + 1);
      const std::string name = "frame-" +
                               std::string(4 - std::min<std::size_t>(4, number.size()), '0') +
                               number + ".bmp";
      pavrel::SaveBmpFile(pavrel::MakeDemoFrame(i), folder / name);
    }
  } catch (const std::exception& e) {
    std::cerr << "make-demo-frames: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
