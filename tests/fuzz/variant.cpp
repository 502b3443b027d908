// The management service's property values: VARIANT texts, integers and
// decimal texts, and SAFEARRAYs of texts, as the typed reads take them.
#include "discovery/wmi.h"
#include "fuzz/support/fuzz_platform.h"
#include "platform/winconst.h"

using namespace pbaloader;

namespace {

constexpr os::ComRef Object = 0x0B1;

os::WString wideText(fuzz::Bytes& bytes, std::size_t units) {
  os::WString text;
  for (std::size_t i = 0; i < units; ++i) text.push_back(static_cast<char16_t>(bytes.u16()));
  return text;
}

// One value as the service might hand it over, types weighted to the ones read.
class VariantPlatform : public fuzz::FuzzPlatform {
 public:
  explicit VariantPlatform(fuzz::Bytes& bytes) : bytes_(bytes) {}

  std::int32_t objectGet(os::ComRef object, os::WStringView, os::Variant& value) override {
    PBA_FUZZ_CHECK(object == Object);
    static constexpr std::uint16_t types[] = {win::VtBstr, win::VtI4,    win::VtUi4,
                                              win::VtI8,   win::VtUi8,   win::VtArray | win::VtBstr,
                                              win::VtNull, win::VtEmpty, win::VtBool};
    const std::uint8_t pick = bytes_.u8();
    if (pick >= 0xF8) return win::WbemEFailed;
    value.type = pick < 0xF0 ? types[pick % std::size(types)] : bytes_.u16();
    const std::uint8_t flags = bytes_.u8();
    value.nullText = (flags & 1) != 0;
    value.accessFailed = (flags & 2) != 0;
    value.text = wideText(bytes_, bytes_.u8() % 64);
    const std::uint64_t high = bytes_.u32();
    value.integer = high << 32 | bytes_.u32();
    value.dimensions = bytes_.u8() % 3;
    value.elementCount = (flags & 4) ? bytes_.u32() : bytes_.u8() % 8;
    const unsigned elements = bytes_.u8() % 8;
    for (unsigned i = 0; i < elements; ++i)
      value.elements.push_back(wideText(bytes_, bytes_.u8() % 16));
    last = value;
    return 0;
  }
  void release(os::ComRef object) override { PBA_FUZZ_CHECK(object == Object); }

  os::Variant last;

 private:
  fuzz::Bytes& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  VariantPlatform platform(bytes);
  os::ScopedPlatform scoped(platform);
  WmiObject object;
  object.reset(Object);
  while (!bytes.empty()) {
    switch (bytes.u8() % 5) {
      case 0:
        if (auto text = object.getWString(u"Model")) {
          PBA_FUZZ_CHECK(platform.last.type == win::VtBstr && !platform.last.nullText);
          PBA_FUZZ_CHECK(text->find(u'\0') == os::WString::npos);
          PBA_FUZZ_CHECK(platform.last.text.starts_with(*text));
        }
        break;
      case 1:
        if (auto text = object.getString(u"SerialNumber"))
          PBA_FUZZ_CHECK(text->find('\0') == std::string::npos);
        break;
      case 2:
        if (object.getInt32(u"DiskNumber"))
          PBA_FUZZ_CHECK(platform.last.type == win::VtI4 || platform.last.type == win::VtUi4);
        break;
      case 3:
        object.getUInt64(u"Size");
        break;
      default: {
        os::Variant value;
        object.getVariant(u"AccessPaths", value);
        std::int32_t result = 0;
        if (auto list = getStringArray(value, result)) {
          PBA_FUZZ_CHECK(value.type == (win::VtArray | win::VtBstr) && value.dimensions == 1);
          PBA_FUZZ_CHECK(list->size() <= value.elementCount &&
                         list->size() <= value.elements.size());
          if (value.accessFailed) PBA_FUZZ_CHECK(list->empty());
        } else {
          PBA_FUZZ_CHECK(result == win::HresultBadArguments);
        }
      }
    }
  }
  object.reset();
  return 0;
}
