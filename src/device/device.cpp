#include "device/device.h"

#include <limits>
#include <stdexcept>

#include "discovery/error_text.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

// now + delta on the steady clock, clamped instead of overflowing.
std::int64_t deadlineAfter(std::int64_t nowNs, std::int64_t deltaNs) {
  if (nowNs > std::numeric_limits<std::int64_t>::max() - deltaNs)
    return std::numeric_limits<std::int64_t>::max();
  return nowNs + deltaNs;
}

}  // namespace

BaseDevice::~BaseDevice() = default;

BaseDevice::Error mapSystemError(std::uint32_t code) {
  using E = BaseDevice::Error;
  switch (code) {
    case win::ErrorSuccess:
      return E::Ok;
    case win::ErrorInvalidFunction:
    case win::ErrorInvalidParameter:
      return E::InvalidRequest;
    case win::ErrorAccessDenied:
      return E::AccessDenied;
    case win::ErrorNotEnoughMemory:
      return E::OutOfMemory;
    case win::ErrorNotSupported:
      return E::NotSupported;
    case win::ErrorDevNotExist:
      return E::NoDevice;
    case win::ErrorSemTimeout:
    case win::ErrorTimeout:
      return E::Timeout;
    case win::ErrorBusy:
    case win::ErrorDeviceInUse:
      return E::Busy;
    default:
      return E::Failed;
  }
}

SystemDevice::SystemDevice(const DriveInfo& drive) : drive_(drive) {
  flag_ = false;
  lastError_ = Error::Ok;
  lastScsiResult_ = SCSIRet{};
  timeoutMs_ = 10000;
  ownsHandle_ = false;
  handle_ = openPath();
  checkOpened();
}

SystemDevice::~SystemDevice() {
  if (ownsHandle_ && handle_ != os::InvalidHandle) os::current().closeHandle(handle_);
}

os::Handle SystemDevice::openPath() {
  ownsHandle_ = true;
  auto opened = os::current().createFileA(
      drive_.path, win::GenericRead | win::GenericWrite, win::FileShareRead | win::FileShareWrite,
      win::OpenExisting, win::FileFlagWriteThrough | win::FileFlagNoBuffering);
  openError_ = opened.error;
  return opened.value;
}

void SystemDevice::checkOpened() {
  if (handle_ != os::InvalidHandle) return;
  throw std::runtime_error("Unable to open \"" + drive_.path +
                           "\": " + systemErrorText(openError_));
}

BaseDevice::Error SystemDevice::runCommand(const std::function<Error()>& attempt) {
  lastError_ = attempt();
  if (ownsHandle_ && lastError_ == Error::NoDevice) {
    // The drive was re-enumerated: its old handle names nothing any more.
    const os::Handle stale = handle_;
    handle_ = openPath();
    if (stale != os::InvalidHandle) os::current().closeHandle(stale);
    if (handle_ != os::InvalidHandle) lastError_ = attempt();
  }
  return lastError_;
}

std::unique_ptr<BaseDevice> SystemDevice::clone() {
  try {
    return std::make_unique<SystemDevice>(drive_);
  } catch (const std::runtime_error&) {
    return nullptr;
  }
}

void SystemDevice::noOperation() {}

void SystemDevice::setFlag(bool value) { flag_ = value; }

std::pair<std::string, std::string> SystemDevice::identity() {
  return {drive_.model, drive_.serialNumber};
}

bool SystemDevice::sendCommand(const void*) { return false; }

bool SystemDevice::setPower(bool) {
  lastError_ = Error::NotSupported;
  return false;
}

bool SystemDevice::powerCycle(std::uint32_t timeoutMs) {
  if (!setPower(false)) return false;
  auto& platform = os::current();
  platform.sleepUntilNs(deadlineAfter(platform.steadyNowNs(), 1'000'000'000));
  if (!setPower(true)) return false;
  return waitReady(timeoutMs);
}

bool SystemDevice::reserved1() {
  lastError_ = Error::NotSupported;
  return false;
}

bool SystemDevice::reserved2() {
  lastError_ = Error::NotSupported;
  return false;
}

bool SystemDevice::reserved3() {
  lastError_ = Error::NotSupported;
  return false;
}

bool SystemDevice::isReady() {
  lastError_ = Error::NotSupported;
  return false;
}

std::uint32_t SystemDevice::limitValue() { return 0xFFFF; }

bool SystemDevice::waitReady(std::uint32_t timeoutMs) {
  auto& platform = os::current();
  const std::int64_t start = platform.steadyNowNs();
  if (isReady()) return true;
  const std::int64_t limitNs = static_cast<std::int64_t>(timeoutMs) * 1'000'000;
  for (;;) {
    if (lastError_ != Error::Ok) return false;
    if (platform.steadyNowNs() - start > limitNs) {
      lastError_ = Error::Timeout;
      return false;
    }
    platform.sleepUntilNs(deadlineAfter(platform.steadyNowNs(), 100'000'000));
    if (isReady()) return true;
  }
}

std::uint32_t SystemDevice::timeoutMs() { return timeoutMs_; }

void SystemDevice::setTimeoutMs(std::uint32_t value) { timeoutMs_ = value; }

}  // namespace pbaloader
