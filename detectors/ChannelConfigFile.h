#pragma once
// The per-detector configuration file: <data root>/Kelvarin/<first 6 characters of the serial
// number>.dat, holding one record.

#include <string>

class CChannelConfig;

// First 6 characters of the serial number with every character that is not safe in a file name
// replaced by '_' (path separators, "..", control characters, bytes above 0x7F and the characters
// Windows forbids); a name Windows reserves for a device gets a leading '_'. Ordinary serial
// numbers are kept as they are.
std::string ConfigFileStem(const std::string& serial);
// Folder of the per-detector files: <data root>/Kelvarin.
std::string ConfigFolder();
// For the rest of the run the files live in `folder` instead (the demo's own meters keep theirs
// out of the user's folder); an empty folder goes back to the usual one. Call it before any
// file is read, from the thread that reads them.
void UseConfigFolder(const std::string& folder);
// Full path of the file of a serial number; empty when the serial number is empty.
std::string ConfigFilePath(const std::string& serial);

enum class ConfigLoad { Loaded, Missing, Damaged };

// Loads the file of `serial` into `config`. Missing: the file does not exist, `config` unchanged.
// Damaged: the file could not be read or is not a whole record; `config` unchanged and `error`
// names the file and says what is wrong.
ConfigLoad LoadChannelConfigFile(const std::string& serial, CChannelConfig& config,
                                 std::string& error);
// Stores `config` in the file of `serial`, creating the folder when missing, atomically
// (temporary file in the same folder, flushed, renamed over the old one). False with `error`
// filled on failure; the old file is then left as it was.
bool SaveChannelConfigFile(const std::string& serial, const CChannelConfig& config,
                           std::string& error);
