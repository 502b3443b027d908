// PLACEHOLDER: to be written by the files owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
struct HostFileState {};
FileSystem::FileSystem(Machine& machine) : machine_(machine) {}
FileSystem::~FileSystem() = default;
void FileSystem::load(const nlohmann::json&) {}
os::Result<os::Handle> FileSystem::createFileW(os::WStringView, std::uint32_t, std::uint32_t,
                                               std::uint32_t, std::uint32_t) {
  return {os::InvalidHandle, win::ErrorCallNotImplemented};
}
os::Result<os::Handle> FileSystem::createFileA(std::string_view, std::uint32_t, std::uint32_t,
                                               std::uint32_t, std::uint32_t) {
  return {os::InvalidHandle, win::ErrorCallNotImplemented};
}
os::Transfer FileSystem::readFile(os::Handle, void*, std::uint32_t) {
  return {false, 0, win::ErrorCallNotImplemented};
}
os::Transfer FileSystem::writeFile(os::Handle, const void*, std::uint32_t) {
  return {false, 0, win::ErrorCallNotImplemented};
}
os::FilePointer FileSystem::setFilePointer(os::Handle, std::int32_t, const std::int32_t*,
                                           std::uint32_t) {
  return {win::InvalidSetFilePointer, 0, win::ErrorCallNotImplemented};
}
os::Status FileSystem::closeHandle(os::Handle) { return {false, win::ErrorInvalidHandle}; }
os::Status FileSystem::deleteFileW(os::WStringView) {
  return {false, win::ErrorCallNotImplemented};
}
os::Result<os::WString> FileSystem::getCurrentDirectoryW() {
  return {machine_.currentDirectory, 0};
}
os::Result<os::WString> FileSystem::getSystemDirectoryW() { return {machine_.systemDirectory, 0}; }
OpenObject* FileSystem::object(os::Handle h) {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : &it->second;
}
std::optional<std::filesystem::path> FileSystem::hostPathOf(os::WStringView) const {
  return std::nullopt;
}
os::WString FileSystem::absolutePath(os::WStringView p) const { return os::WString(p); }
std::size_t FileSystem::openHandleCount() const { return handles_.size(); }
}  // namespace pbaloader::sim
