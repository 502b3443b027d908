// A machine with one fixed disk and a few USB drives, for the tests of the
// listing, the lookup and the menus.
#pragma once

#include <string>

#include "platform/sim/machine.h"

namespace pbaloader::testing {

// Disk 0: fixed "Internal SSD" (INT1). Disks 1 and 2: "Sim Stick" (S1, with
// one partition; S2). Disk 3: a USB drive with an empty model and serial
// number. Disk 4: "Stick Ä" (S4). USB disks hold 512 MiB, in memory.
// C: is the host folder "c", the current directory C:\Work.
inline sim::Json usbDrivesMachine() {
  const std::uint64_t usbSize = std::uint64_t{512} << 20;
  auto usb = [&](int number, const char* model, const char* serial) {
    return sim::Json{{"number", number},
                     {"size", usbSize},
                     {"removalPolicy", 3},
                     {"device", {{"kind", "scsi"}, {"model", model}, {"serialNumber", serial}}}};
  };
  sim::Json stick1 = usb(1, "Sim Stick", "S1");
  // Answers no identification command, and the management service knows
  // neither its model nor its serial number.
  sim::Json silent = usb(3, "", "");
  silent.erase("device");
  stick1["partitions"] = {{"style", "mbr"},
                          {"entries", {{{"start", 1 << 20}, {"length", 32 << 20}}}}};
  return sim::Json{
      {"drives", {{"C:", "c"}}},
      {"currentDirectory", "C:\\Work"},
      {"disks",
       {{{"number", 0},
         {"size", std::uint64_t{1} << 30},
         {"removalPolicy", 1},
         {"device", {{"kind", "scsi"}, {"model", "Internal SSD"}, {"serialNumber", "INT1"}}}},
        stick1,
        usb(2, "Sim Stick", "S2"),
        silent,
        usb(4, "Stick \xC3\x84", "S4")}}};
}

// The tool's output with the banner that every run starts with cut off.
inline std::string afterBanner(const std::string& output) {
  const std::string end =
      "USB drive. DO NOT USE IT IF YOU ARE UNSURE HOW IT WORKS\n"
      "-----------------------------------------------------------\n";
  const auto at = output.find(end);
  return at == std::string::npos ? output : output.substr(at + end.size());
}

}  // namespace pbaloader::testing
