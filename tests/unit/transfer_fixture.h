// A simulated machine with drive C: on a host folder and one raw disk, for
// the transfer and validation tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace pbaloader::testing {

inline constexpr char DrivePath[] = "\\\\.\\PHYSICALDRIVE1";
inline constexpr char ImagePath[] = "C:\\image.bin";

// Bytes whose value depends on their offset, so that any shift shows.
inline std::vector<std::uint8_t> pattern(std::uint64_t offset, std::size_t length) {
  std::vector<std::uint8_t> out(length);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint64_t at = offset + i;
    out[i] = static_cast<std::uint8_t>((at * 7 + (at >> 9) * 13 + 1) & 0xFF);
  }
  return out;
}

class TransferMachine {
 public:
  // faults: the disk's "faults"; imageFaults: "fileFaults" of C:\image.bin.
  explicit TransferMachine(std::uint64_t diskSize = 1 << 20, sim::Json faults = sim::Json::object(),
                           sim::Json imageFaults = sim::Json::object())
      : sim_(description(diskSize, std::move(faults), std::move(imageFaults))) {}

  sim::Machine& machine() { return sim_.machine(); }
  const std::string& output() const { return sim_.output(); }
  std::filesystem::path hostImage() const { return sim_.host() / "c" / "image.bin"; }

  // Writes bytes into the image file at offset (creating it, sparse, at size).
  void writeImage(std::uint64_t size, std::uint64_t offset,
                  const std::vector<std::uint8_t>& bytes) {
    const auto path = hostImage();
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, size);
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  }
  void writeDisk(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(machine().disks.at(0).store->write(offset, bytes.data(), bytes.size()));
  }
  std::vector<std::uint8_t> readDisk(std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> out(length);
    EXPECT_TRUE(machine().disks.at(0).store->read(offset, out.data(), length));
    return out;
  }
  sim::IoLog& diskLog() { return machine().files.diskLog(0); }
  std::size_t openHandles() { return machine().files.openHandleCount(); }
  std::vector<std::int64_t> sleepsMs() {
    std::vector<std::int64_t> out;
    for (auto ns : machine().sleepsNs) out.push_back(ns / 1'000'000);
    return out;
  }

 private:
  static sim::Json description(std::uint64_t diskSize, sim::Json faults, sim::Json imageFaults) {
    sim::Json d = {{"drives", {{"C:", "c"}}},
                   {"currentDirectory", "C:\\"},
                   {"disks", {{{"number", 1}, {"size", diskSize}, {"faults", faults}}}}};
    if (!imageFaults.empty()) d["fileFaults"] = {{ImagePath, imageFaults}};
    return d;
  }
  struct HostFolder {
    explicit HostFolder(const std::filesystem::path& p) { std::filesystem::create_directories(p); }
  };
  SimMachine sim_;
  HostFolder folder_{sim_.host() / "c"};
};

}  // namespace pbaloader::testing
