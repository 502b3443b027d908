// PLACEHOLDER: to be written by the discovery owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
struct ComState {};
Management::Management(Machine& machine)
    : machine_(machine), state_(std::make_unique<ComState>()) {}
Management::~Management() = default;
void Management::load(const nlohmann::json&) {}
std::int32_t Management::coInitializeEx(std::uint32_t) { return win::EFail; }
void Management::coUninitialize() {}
std::int32_t Management::coInitializeSecurity(std::int32_t, std::uint32_t, std::uint32_t,
                                              std::uint32_t) {
  return win::EFail;
}
os::ComResult Management::coCreateInstance(const os::Guid&, std::uint32_t, const os::Guid&) {
  return {win::EFail, 0};
}
os::ComResult Management::connectServer(os::ComRef, os::WStringView) { return {win::EFail, 0}; }
std::int32_t Management::coSetProxyBlanket(os::ComRef, std::uint32_t, std::uint32_t, std::uint32_t,
                                           std::uint32_t, std::uint32_t) {
  return win::EFail;
}
os::ComResult Management::execQuery(os::ComRef, os::WStringView, os::WStringView, std::int32_t) {
  return {win::EFail, 0};
}
os::NextResult Management::enumNext(os::ComRef, std::int32_t) { return {win::EFail, 0, 0}; }
std::int32_t Management::objectGet(os::ComRef, os::WStringView, os::Variant&) { return win::EFail; }
void Management::release(os::ComRef) {}
ComState& Management::state() { return *state_; }
}  // namespace pbaloader::sim
