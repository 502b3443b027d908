// A SystemDevice on the hostile drive: what the device targets share.
#pragma once

#include <string>

#include "device/device.h"
#include "fuzz/support/fuzz_platform.h"

namespace pbaloader::fuzz {

// Opens a drive record with the transport given on the hostile drive, runs
// body(device) and checks that every handle the device opened was closed.
template <class Body>
void onHostileDrive(Bytes& bytes, std::int32_t transport, Body body) {
  HostileDrivePlatform platform(bytes);
  os::ScopedPlatform scoped(platform);
  {
    DriveInfo drive;
    drive.path = "\\\\.\\PHYSICALDRIVE1";
    drive.transport = transport;
    SystemDevice device(drive);
    body(device);
  }
  PBA_FUZZ_CHECK(platform.openHandles() == 0);
}

}  // namespace pbaloader::fuzz
