#pragma once

// How long a video file says it is. Demuxers often end a cut-off file as if it were whole
// (AVI's rebuilds its index from what is there); the container's own outer sizes still tell.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace pavrel::track {

// The bytes that the outermost structure of a video file declares: the RIFF chunks of an AVI,
// the top-level boxes of an MP4 or QuickTime file, or the segment of a Matroska or WebM file.
// nullopt when In is none of these, is malformed, or leaves its length open (a box to the end
// of the file, a segment of unknown size).
std::optional<std::uint64_t> DeclaredContainerSize(std::istream& In);

// "" when Path is at least as long as its container declares; else why it is cut off.
std::string CutOffReason(const std::filesystem::path& Path);

}  // namespace pavrel::track
