// Helpers for tests that need a process of their own: running a check in a forked child, and
// giving that child a small disk of its own to fill.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace korvanta::test {

// Runs `check` in a child process and returns its exit status (check's return value); 201 when
// the child died or was still running after `seconds`.
int runInChild(const std::function<int()>& check, unsigned seconds = 60);

// In a child process only, for it changes the process for good: gives the process a mount table
// of its own and mounts an empty memory file system of `bytes` at `folder`, which only this
// process and its children see and which vanishes with them. Works as root, and as another user
// where the system lets users make namespaces. False, with the system's reason in `why`, when
// it allows neither.
bool mountPrivateSmallDisk(const std::filesystem::path& folder, size_t bytes, std::string* why);

// What a child returns when mountPrivateSmallDisk() failed, and why its test is then skipped.
inline constexpr int kCannotMountPrivately = 77;
inline constexpr const char* kNoPrivateSmallDisk =
    "no small disk to fill: this system lets the tests make neither a mount namespace (as root) "
    "nor a user namespace";

}  // namespace korvanta::test
