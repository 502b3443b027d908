#include "platform/sim/wmi_values.h"

#include <algorithm>
#include <stdexcept>

#include "platform/sim/devices/device_model.h"
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {

os::WString utf8ToWide(Machine& machine, const std::string& text) {
  // The machine's own code page conversion, as the tool's texts get it.
  const auto length = machine.console.multiByteToWideChar(win::CpUtf8, 0, text, {});
  os::WString out(static_cast<std::size_t>(std::max(length.value, 0)), u'\0');
  machine.console.multiByteToWideChar(win::CpUtf8, 0, text, out);
  return out;
}

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

os::WString upperAsciiWide(os::WStringView text) {
  os::WString out(text);
  for (char16_t& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

os::WString asciiWide(const std::string& text) { return os::WString(text.begin(), text.end()); }

std::int32_t parseHresult(const nlohmann::json& value) {
  if (value.is_string()) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(std::stoul(value.get<std::string>(), nullptr, 0)));
  }
  if (value.is_number_unsigned()) return static_cast<std::int32_t>(value.get<std::uint32_t>());
  return value.get<std::int32_t>();
}

os::Variant textVariant(os::WStringView text) {
  os::Variant v;
  v.type = win::VtBstr;
  v.text = os::WString(text);
  return v;
}

os::Variant int32Variant(std::int32_t value) {
  os::Variant v;
  v.type = win::VtI4;
  v.integer = static_cast<std::uint32_t>(value);
  return v;
}

os::Variant nullVariant() {
  os::Variant v;
  v.type = win::VtNull;
  return v;
}

os::Variant textArrayVariant(std::vector<os::WString> texts) {
  os::Variant v;
  v.type = win::VtArray | win::VtBstr;
  v.dimensions = 1;
  v.elementCount = static_cast<std::uint32_t>(texts.size());
  v.elements = std::move(texts);
  return v;
}

os::Variant variantFromJson(Machine& machine, const nlohmann::json& value) {
  if (value.is_null()) return nullVariant();
  if (value.is_string()) return textVariant(utf8ToWide(machine, value.get<std::string>()));
  if (value.is_boolean()) {
    os::Variant v;
    v.type = win::VtBool;
    v.integer = value.get<bool>() ? 0xFFFF : 0;
    return v;
  }
  if (value.is_number_integer())
    return int32Variant(static_cast<std::int32_t>(value.get<std::int64_t>()));
  if (value.is_array()) {
    std::vector<os::WString> texts;
    for (const auto& element : value)
      texts.push_back(utf8ToWide(machine, element.get<std::string>()));
    return textArrayVariant(std::move(texts));
  }
  if (!value.is_object() || !value.contains("vt"))
    throw std::runtime_error(
        "a management value must be text, integer, null, bool, list or {\"vt\": ...}");
  os::Variant v;
  v.type = value.at("vt").get<std::uint16_t>();
  if (value.contains("value")) {
    const auto& inner = value.at("value");
    if (inner.is_string()) {
      v.text = utf8ToWide(machine, inner.get<std::string>());
    } else if (inner.is_array()) {
      for (const auto& element : inner)
        v.elements.push_back(element.is_null() ? os::WString()
                                               : utf8ToWide(machine, element.get<std::string>()));
      v.elementCount = static_cast<std::uint32_t>(v.elements.size());
      v.dimensions = 1;
    } else if (inner.is_number_unsigned()) {
      v.integer = inner.get<std::uint64_t>();
    } else if (inner.is_number_integer()) {
      v.integer = static_cast<std::uint64_t>(inner.get<std::int64_t>());
    }
  }
  v.nullText = value.value("nullText", false);
  v.dimensions = value.value("dimensions", v.dimensions);
  v.accessFailed = value.value("accessFails", false);
  return v;
}

PropertyOverrides parseOverrides(Machine& machine, const nlohmann::json& object) {
  PropertyOverrides out;
  for (const auto& [key, value] : object.items()) {
    if (key == "absent") {
      for (const auto& name : value)
        out.absent.push_back(utf8ToWide(machine, name.get<std::string>()));
    } else if (key == "listed") {
      out.listed = value.get<bool>();
    } else {
      out.set.emplace_back(utf8ToWide(machine, key), variantFromJson(machine, value));
    }
  }
  return out;
}

void setProperty(WmiInstance& instance, os::WStringView name, os::Variant value) {
  const os::WString key = upperAsciiWide(name);
  for (auto& [property, existing] : instance.properties) {
    if (upperAsciiWide(property) == key) {
      existing = std::move(value);
      return;
    }
  }
  instance.properties.emplace_back(os::WString(name), std::move(value));
}

void applyOverrides(WmiInstance& instance, const PropertyOverrides& overrides) {
  for (const auto& [name, value] : overrides.set) setProperty(instance, name, value);
  for (const os::WString& name : overrides.absent) {
    const os::WString key = upperAsciiWide(name);
    std::erase_if(instance.properties,
                  [&](const auto& property) { return upperAsciiWide(property.first) == key; });
  }
}

std::optional<WmiInstance> diskDriveInstance(Machine& machine, const SimDisk& disk) {
  const Json& d = disk.description;
  PropertyOverrides overrides;
  if (d.contains("management")) overrides = parseOverrides(machine, d.at("management"));
  if (!overrides.listed) return std::nullopt;

  WmiInstance drive{"Win32_DiskDrive", {}};
  setProperty(drive, u"DeviceID", textVariant(disk.devicePath));
  setProperty(drive, u"Index", int32Variant(static_cast<std::int32_t>(disk.number)));
  const Json device = d.value("device", Json::object());
  // What the drive's own identity says, under the same keys the drive reads;
  // the class's properties are always there, null when the drive names nothing.
  const std::pair<const char16_t*, const char*> texts[] = {
      {u"Model", "model"}, {u"SerialNumber", "serial"}, {u"FirmwareRevision", "firmware"}};
  for (const auto& [property, key] : texts) {
    const auto text = identityText(device, key);
    setProperty(drive, property, text ? textVariant(utf8ToWide(machine, *text)) : nullVariant());
  }
  // USB storage names a drive from what INQUIRY reported, the bridge's
  // answer when there is one, not from the drive behind it.
  const DeviceModel* model = machine.storage.model(machine.diskIndexByNumber(disk.number));
  if (model != nullptr && model->usb()) {
    const std::string vendor = model->inquiryVendor();
    const std::string name =
        (vendor.empty() ? "" : vendor + " ") + model->inquiryProduct() + " USB Device";
    setProperty(drive, u"Model", textVariant(utf8ToWide(machine, name)));
    setProperty(drive, u"FirmwareRevision",
                textVariant(utf8ToWide(machine, model->inquiryRevision())));
  }
  setProperty(drive, u"BytesPerSector", int32Variant(static_cast<std::int32_t>(disk.sectorSize)));
  setProperty(drive, u"Size", textVariant(asciiWide(std::to_string(disk.size))));
  setProperty(drive, u"MediaType",
              textVariant(disk.removalPolicy == win::CmRemovalPolicyExpectNoRemoval
                              ? u"Fixed hard disk media"
                              : u"Removable Media"));
  applyOverrides(drive, overrides);
  return drive;
}

}  // namespace pbaloader::sim
