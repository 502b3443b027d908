// Management-service values of the simulated machine as a description writes
// them, and the small text helpers the COM and setup facilities share.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/management.h"

namespace pbaloader::sim {

class Machine;
struct SimDisk;

// Property overrides of a description's "management" object: values that are
// set (JSON null is VT_NULL) and properties that are left out.
struct PropertyOverrides {
  std::vector<std::pair<os::WString, os::Variant>> set;
  std::vector<os::WString> absent;
  bool listed = true;  // "listed": false hides the object altogether
};

// A description value as a VARIANT: text is VT_BSTR, an integer VT_I4, null
// VT_NULL, true/false VT_BOOL, a list of texts VT_ARRAY|VT_BSTR, and
// {"vt": n, "value": v, "dimensions": d, "nullText": b, "accessFails": b}
// anything else.
os::Variant variantFromJson(Machine& machine, const nlohmann::json& value);
PropertyOverrides parseOverrides(Machine& machine, const nlohmann::json& object);
void applyOverrides(WmiInstance& instance, const PropertyOverrides& overrides);
void setProperty(WmiInstance& instance, os::WStringView name, os::Variant value);

os::Variant textVariant(os::WStringView text);
os::Variant int32Variant(std::int32_t value);
os::Variant nullVariant();
os::Variant textArrayVariant(std::vector<os::WString> texts);

// An HRESULT written as a number or as "0x8004100E".
std::int32_t parseHresult(const nlohmann::json& value);

// The Win32_DiskDrive object of a disk, or nothing when its "management"
// object hides it.
std::optional<WmiInstance> diskDriveInstance(Machine& machine, const SimDisk& disk);

// Description texts (UTF-8) as the machine converts them.
os::WString utf8ToWide(Machine& machine, const std::string& text);
std::string upperAscii(std::string text);
os::WString upperAsciiWide(os::WStringView text);
os::WString asciiWide(const std::string& text);

}  // namespace pbaloader::sim
