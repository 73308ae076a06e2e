#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pavrel {

// A failed file operation; the message is the system's reason ("No such file or directory").
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces Path with Data so that a reader sees the old file or the new one, never a mix:
// the data goes to a temporary file in the same folder, is flushed to disk, then renamed
// over Path. On failure Path is untouched, the temporary file is gone and EFileError is
// raised. A symbolic link at Path is followed, so the link stays in place; a file that may
// not be written (read-only) is refused. Temporary files of earlier saves of Path whose
// process no longer runs (a save that was killed) are removed first.
// QSaveFile does less: it does not sync the folder after the rename, and a save killed
// between linking its temporary file and the rename (or any save on a file system without
// O_TMPFILE) leaves NAME.XXXXXX behind, which no later save can tell from a user's file.
void ReplaceFileAtomically(const std::filesystem::path& Path, std::string_view Data);

// Writes Data to a new file at Path, flushed to disk; raises EFileError with errno EEXIST's
// reason when Path exists already (never overwrites).
void CreateFileExclusively(const std::filesystem::path& Path, std::string_view Data);

// Reads a whole regular file. Raises EFileError when it cannot, or when the file is larger
// than MaxSize.
std::string ReadWholeFile(const std::filesystem::path& Path, std::size_t MaxSize);

}  // namespace pavrel
