// The application's private folder for renderings, under the system temporary folder.
#pragma once

#include <filesystem>

#include "platform/Error.h"

namespace korvanta {

// Returns <system temp>/korvanta-<uid>, creating it with mode 0700 when absent. The system temp
// folder is $TMPDIR when set, else /tmp. Fails (AudioFile kFileSystem) when the path exists but is
// not a directory owned by this user (a symlink included), so nothing ever lands in a folder that
// another user controls. Thread-safe.
Result<std::filesystem::path> privateTempFolder();

// A new random (version 4) UUID in its canonical upper-case text form.
std::string makeUuidString();

}  // namespace korvanta
