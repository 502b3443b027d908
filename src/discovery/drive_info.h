// The record that describes one disk drive everywhere in the tool.
#pragma once

#include <cstdint>
#include <string>

namespace pbaloader {

struct DriveInfo {
  // Pass-through path that carries commands to the drive.
  enum Transport : std::int32_t {
    TransportUnknown = 0,
    TransportManagement = 1,
    TransportAta = 2,
    TransportScsi = 3,
  };
  // How identification recognised the drive.
  enum Interface : std::int32_t {
    InterfaceNone = 0,
    InterfaceAta = 1,
    InterfaceScsi = 2,
    InterfaceNvme = 3,
  };

  std::string path;
  std::string model;
  std::string serialNumber;
  std::string firmwareRevision;
  std::string bridgeRevision;
  std::uint32_t bytesPerSector = 512;
  std::uint64_t lastLba = 0;
  std::int32_t transport = TransportUnknown;
  std::int32_t interfaceType = InterfaceNone;
  std::int32_t nvmeBehindBridge = 0;
  bool usbPcieBridge = false;

  friend bool operator==(const DriveInfo&, const DriveInfo&) = default;
};

}  // namespace pbaloader
