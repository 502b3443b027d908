// The loader object of one run and the parsed command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "discovery/drive_info.h"

namespace pbaloader {

struct LoaderOptions {
  std::string driveName;
  std::string imagePath;
  bool listMode = false;
  bool loadMode = false;
  bool clearMode = false;
  bool interactiveMode = false;
};

// Ends the process with a status: thrown by the operations that end the run
// (usage error, drive not found) and turned into the exit status by the entry point.
struct ProcessExit {
  int status;
};

// Throws ProcessExit.
[[noreturn]] void endProcess(int status);

// What the disk cleaning before a load or a clear came to.
enum class Cleaning {
  Done,     // the partitioning utility ran and the head was zeroed
  Skipped,  // the drive was left as it was; the operation may go on
  // A file named like the script was already there: it is the user's, so it
  // is left alone, and nothing may be written to the drive either.
  ScriptInTheWay,
};

class PbaLoader {
 public:
  DriveInfo selectedDrive;
  LoaderOptions options;
  // The drive the interactive menu showed and its warning named; set only by
  // the interactive mode, so that the write reaches that drive or none.
  std::optional<DriveInfo> confirmedDrive;

  void loadImage();                                                 // pba/load.cpp
  void clearImage();                                                // pba/clear.cpp
  Cleaning cleanDisk();                                             // pba/clear.cpp
  bool zeroDriveRange(std::uint64_t offset, std::uint64_t length);  // pba/clear.cpp
  void selectDrive();                                               // app/listing.cpp
  // selectDrive, then false (and one line said why) when the drive found is
  // not the one the user confirmed.
  bool selectConfirmedDrive();  // app/listing.cpp
  // cleanDisk, then false (and one line said why) when the operation must stop.
  bool prepareDrive();    // pba/clear.cpp
  void runInteractive();  // app/interactive.cpp
};

}  // namespace pbaloader
