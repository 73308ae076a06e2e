// Writes the pointer measuring clips as BMP folders, with each frame's true blob centre:
// make-pointer-clips FOLDER  ->  FOLDER/still/, FOLDER/moving/, FOLDER/click/ and
// FOLDER/<clip>.truth (one line a frame: "row column closed").

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "PointerClips.h"
#include "image/BmpFile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-pointer-clips FOLDER\n";
    return 2;
  }
  try {
    const std::filesystem::path folder(argv[1]);
    for (const std::string& name : pavrel::PointerClipNames()) {
      const std::filesystem::path dir = folder / name;
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
      std::ofstream truth(folder / (name + ".truth"));
      const auto frames = pavrel::PointerClip(name);
      for (std::size_t i = 0; i < frames.size(); ++i) {
        char file[32];
        std::snprintf(file, sizeof file, "frame-%04zu.bmp", i + 1);
        pavrel::SaveBmpFile(pavrel::MakeBlobFrame(frames[i], static_cast<std::uint32_t>(i + 1)),
                            dir / file);
        truth << frames[i].CentreRow << ' ' << frames[i].CentreColumn << ' '
              << (frames[i].Closed ? 1 : 0) << '\n';
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "make-pointer-clips: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
