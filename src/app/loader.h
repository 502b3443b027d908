// The loader object of one run and the parsed command line.
#pragma once

#include <cstdint>
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

class PbaLoader {
 public:
  DriveInfo selectedDrive;
  LoaderOptions options;

  void loadImage();                                                 // pba/load.cpp
  void clearImage();                                                // pba/clear.cpp
  bool cleanDisk();                                                 // pba/clear.cpp
  bool zeroDriveRange(std::uint64_t offset, std::uint64_t length);  // pba/clear.cpp
  void selectDrive();                                               // app/listing.cpp
  void runInteractive();                                            // app/interactive.cpp
};

}  // namespace pbaloader
