#pragma once
// Reading and saving the small files kept per detector head: read whole with a cap, saved
// atomically (a temporary file in the same folder, flushed, renamed over the old one), so that a
// crash or a full disk leaves the old file or the new one, never half of either.

#include <cstdint>
#include <string>
#include <vector>

// The system's text for an errno.
std::string SystemReason(int error);

// Reads the whole file into `bytes`, at most 1 MiB. Returns 0 or the errno; ENOENT and ENOTDIR
// mean there is no file. `reason` is set where the errno alone would not say it (not a regular
// file, too large).
int ReadSmallFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason);

// ReadSmallFile for a loader: Missing (no file), Read (`bytes` hold it) or Failed, with `reason`
// saying why in words.
enum class SmallFileRead { Missing, Read, Failed };
SmallFileRead ReadSmallFileOrSay(const std::string& path, std::vector<uint8_t>& bytes,
                                 std::string& reason);

// Stores `bytes` as `path` in `folder` (created when missing), atomically, keeping the
// permissions of the regular file it replaces. False with `reason` (the step and the system's
// reason) on failure; the old file is then left as it was.
bool SaveSmallFile(const std::string& folder, const std::string& path,
                   const std::vector<uint8_t>& bytes, std::string& reason);
