// COM apartments and the management service of the simulated machine:
// ROOT\CIMV2 with Win32_DiskDrive built from the disks, and
// ROOT\Microsoft\Windows\Storage with MSFT_Partition built from their partitions.
#include "platform/sim/management.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/sim/machine.h"
#include "platform/sim/wmi_values.h"
#include "platform/winconst.h"

namespace pbaloader::sim {

struct Management::Reference {
  enum class Kind { Locator, Services, Enumerator, Object };
  Kind kind = Kind::Locator;
  os::WString namespacePath;         // Services: canonical upper-case namespace
  std::vector<WmiInstance> results;  // Enumerator
  std::size_t position = 0;          // Enumerator
  WmiInstance instance;              // Object
};

namespace {

constexpr os::Guid ClsidWbemLocator{
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr os::Guid IidWbemLocator{
    0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

constexpr std::int32_t RpcSServerUnavailable = static_cast<std::int32_t>(0x800706BA);

const os::WString CimV2 = u"ROOT\\CIMV2";
const os::WString Storage = u"ROOT\\MICROSOFT\\WINDOWS\\STORAGE";

std::optional<std::int32_t> optionalHresult(const Json& object, const char* key) {
  if (!object.contains(key)) return std::nullopt;
  return parseHresult(object.at(key));
}

// ROOT\CIMV2, root\cimv2 and \\.\root\cimv2 name the same namespace.
os::WString canonicalNamespace(os::WStringView path) {
  os::WString text = upperAsciiWide(path);
  if (text.rfind(u"\\\\.\\", 0) == 0) text.erase(0, 4);
  while (!text.empty() && text.back() == u'\\') text.pop_back();
  return text;
}

// --- WQL --------------------------------------------------------------------

struct ParsedQuery {
  std::vector<os::WString> properties;  // empty: every property (*)
  std::string className;
  std::optional<os::WString> deviceId;  // WHERE DeviceID='...', unescaped
};

class WqlReader {
 public:
  explicit WqlReader(os::WStringView text) : text_(text) {}
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == u' ' || text_[pos_] == u'\t')) ++pos_;
  }
  bool atEnd() {
    skipSpace();
    return pos_ >= text_.size();
  }
  // A keyword or identifier: letters, digits and underscores.
  os::WString word() {
    skipSpace();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && isWordChar(text_[pos_])) ++pos_;
    return os::WString(text_.substr(start, pos_ - start));
  }
  bool keyword(std::u16string_view expected) {
    const std::size_t saved = pos_;
    if (upperAsciiWide(word()) == expected) return true;
    pos_ = saved;
    return false;
  }
  bool symbol(char16_t c) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // A quoted string literal; a backslash escapes the next backslash or quote.
  std::optional<os::WString> literal() {
    skipSpace();
    if (pos_ >= text_.size() || (text_[pos_] != u'\'' && text_[pos_] != u'"')) return std::nullopt;
    const char16_t quote = text_[pos_++];
    os::WString out;
    while (pos_ < text_.size() && text_[pos_] != quote) {
      char16_t c = text_[pos_++];
      if (c == u'\\') {
        if (pos_ >= text_.size()) return std::nullopt;
        c = text_[pos_++];
        if (c != u'\\' && c != u'\'' && c != u'"') return std::nullopt;
      }
      out.push_back(c);
    }
    if (pos_ >= text_.size()) return std::nullopt;
    ++pos_;
    return out;
  }

 private:
  static bool isWordChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_';
  }
  os::WStringView text_;
  std::size_t pos_ = 0;
};

// The two forms the tool sends: SELECT * FROM C and SELECT a,b FROM C WHERE
// DeviceID='...'. Anything else is an invalid query.
std::optional<ParsedQuery> parseWql(os::WStringView text) {
  WqlReader r(text);
  ParsedQuery q;
  if (!r.keyword(u"SELECT")) return std::nullopt;
  if (!r.symbol(u'*')) {
    do {
      os::WString name = r.word();
      if (name.empty()) return std::nullopt;
      q.properties.push_back(name);
    } while (r.symbol(u','));
  }
  if (!r.keyword(u"FROM")) return std::nullopt;
  const os::WString className = r.word();
  if (className.empty()) return std::nullopt;
  for (char16_t c : className) q.className.push_back(static_cast<char>(c));
  if (r.atEnd()) return q;
  if (!r.keyword(u"WHERE")) return std::nullopt;
  if (!r.keyword(u"DEVICEID")) return std::nullopt;
  if (!r.symbol(u'=')) return std::nullopt;
  q.deviceId = r.literal();
  if (!q.deviceId || !r.atEnd()) return std::nullopt;
  return q;
}

}  // namespace

const os::Variant* WmiInstance::find(os::WStringView name) const {
  const os::WString key = upperAsciiWide(name);
  for (const auto& [property, value] : properties)
    if (upperAsciiWide(property) == key) return &value;
  return nullptr;
}

Management::Management(Machine& machine)
    : machine_(machine), state_(std::make_unique<ComState>()) {}

Management::~Management() = default;

void Management::load(const nlohmann::json& d) {
  ComState& s = *state_;
  if (d.contains("com")) {
    const Json& com = d.at("com");
    const std::string apartment = com.value("apartment", "none");
    if (apartment == "sta") {
      s.apartment = ComState::Apartment::SingleThreaded;
    } else if (apartment == "mta") {
      s.apartment = ComState::Apartment::MultiThreaded;
    } else if (apartment != "none") {
      throw std::runtime_error("com.apartment must be none, sta or mta");
    }
    s.initCount = s.baselineInitCount = s.apartment == ComState::Apartment::None ? 0 : 1;
    s.initializeResult = optionalHresult(com, "initializeResult");
    s.securityInitialized = com.value("securityInitialized", false);
  }
  if (d.contains("wmi")) {
    const Json& wmi = d.at("wmi");
    if (wmi.value("unavailable", false)) s.connectResult = RpcSServerUnavailable;
    if (wmi.contains("fail")) {
      const Json& fail = wmi.at("fail");
      if (auto hr = optionalHresult(fail, "coCreateInstance")) s.createInstanceResult = hr;
      if (auto hr = optionalHresult(fail, "connectServer")) s.connectResult = hr;
      if (auto hr = optionalHresult(fail, "coSetProxyBlanket")) s.blanketResult = hr;
      if (auto hr = optionalHresult(fail, "execQuery")) s.queryResult = hr;
    }
    if (wmi.contains("diskDrives")) {
      for (const Json& drive : wmi.at("diskDrives")) {
        WmiInstance instance{"Win32_DiskDrive", {}};
        applyOverrides(instance, parseOverrides(machine_, drive));
        extraDiskDrives_.push_back(std::move(instance));
      }
    }
  }
}

bool Management::initialized() const { return state_->initCount > 0; }

std::int32_t Management::coInitializeEx(std::uint32_t mode) {
  ComState& s = *state_;
  ++s.initializeCalls;
  s.initializeModes.push_back(mode);
  if (s.initializeResult) return *s.initializeResult;
  const auto wanted = (mode & win::CoinitApartmentThreaded) != 0
                          ? ComState::Apartment::SingleThreaded
                          : ComState::Apartment::MultiThreaded;
  if (s.apartment == ComState::Apartment::None) {
    s.apartment = wanted;
    ++s.initCount;
    return win::SOk;
  }
  if (s.apartment != wanted) return win::RpcEChangedMode;
  ++s.initCount;
  return win::SFalse;
}

void Management::coUninitialize() {
  ComState& s = *state_;
  ++s.uninitializeCalls;
  if (s.initCount == 0) return;
  if (--s.initCount == 0) s.apartment = ComState::Apartment::None;
}

std::int32_t Management::coInitializeSecurity(std::int32_t, std::uint32_t, std::uint32_t,
                                              std::uint32_t) {
  ComState& s = *state_;
  ++s.securityCalls;
  if (!initialized()) return win::CoENotInitialized;
  if (s.securityInitialized) return win::RpcETooLate;
  s.securityInitialized = true;
  return win::SOk;
}

os::ComRef Management::add(Reference reference) {
  const os::ComRef ref = nextRef_;
  nextRef_ += 0x10;
  refs_[ref] = std::make_shared<Reference>(std::move(reference));
  return ref;
}

Management::Reference* Management::find(os::ComRef ref) {
  auto it = refs_.find(ref);
  return it == refs_.end() ? nullptr : it->second.get();
}

os::ComResult Management::coCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                           const os::Guid& iid) {
  if (!initialized()) return {win::CoENotInitialized, 0};
  if (state_->createInstanceResult) return {*state_->createInstanceResult, 0};
  if (clsid != ClsidWbemLocator || (context & win::ClsctxInprocServer) == 0)
    return {win::RegdbEClassNotReg, 0};
  if (iid != IidWbemLocator) return {win::ENoInterface, 0};
  return {win::SOk, add(Reference{Reference::Kind::Locator, {}, {}, 0, {}})};
}

os::ComResult Management::connectServer(os::ComRef locator, os::WStringView namespacePath) {
  const Reference* r = find(locator);
  if (r == nullptr || r->kind != Reference::Kind::Locator) return {win::EInvalidArg, 0};
  if (state_->connectResult) return {*state_->connectResult, 0};
  const os::WString ns = canonicalNamespace(namespacePath);
  if (ns != CimV2 && ns != Storage) return {win::WbemEInvalidNamespace, 0};
  return {win::SOk, add(Reference{Reference::Kind::Services, ns, {}, 0, {}})};
}

std::int32_t Management::coSetProxyBlanket(os::ComRef proxy, std::uint32_t, std::uint32_t,
                                           std::uint32_t, std::uint32_t, std::uint32_t) {
  const Reference* r = find(proxy);
  if (r == nullptr) return win::EInvalidArg;
  if (state_->blanketResult) return *state_->blanketResult;
  return win::SOk;
}

std::vector<WmiInstance> Management::instances(os::WStringView namespacePath,
                                               const std::string& className) const {
  const os::WString ns = canonicalNamespace(namespacePath);
  const std::string cls = upperAscii(className);
  std::vector<WmiInstance> out;
  if (ns == CimV2 && cls == "WIN32_DISKDRIVE") {
    for (const SimDisk& disk : machine_.disks) {
      if (auto drive = diskDriveInstance(machine_, disk)) out.push_back(std::move(*drive));
    }
    out.insert(out.end(), extraDiskDrives_.begin(), extraDiskDrives_.end());
  } else if (ns == Storage && cls == "MSFT_PARTITION") {
    for (std::size_t i = 0; i < machine_.disks.size(); ++i) {
      auto parts = machine_.setup.partitionInstances(static_cast<int>(i));
      out.insert(out.end(), parts.begin(), parts.end());
    }
  }
  return out;
}

os::ComResult Management::execQuery(os::ComRef services, os::WStringView language,
                                    os::WStringView query, std::int32_t) {
  const Reference* r = find(services);
  if (r == nullptr || r->kind != Reference::Kind::Services) return {win::EInvalidArg, 0};
  state_->queries.emplace_back(query);
  if (state_->queryResult) return {*state_->queryResult, 0};
  if (upperAsciiWide(language) != u"WQL") return {win::WbemEInvalidQueryType, 0};
  const auto parsed = parseWql(query);
  if (!parsed) return {win::WbemEInvalidQuery, 0};

  const os::WString ns = r->namespacePath;
  const std::string cls = upperAscii(parsed->className);
  const bool known =
      (ns == CimV2 && cls == "WIN32_DISKDRIVE") || (ns == Storage && cls == "MSFT_PARTITION");
  if (!known) return {win::WbemEInvalidClass, 0};

  Reference enumerator{Reference::Kind::Enumerator, {}, {}, 0, {}};
  for (WmiInstance& instance : instances(ns, parsed->className)) {
    if (parsed->deviceId) {
      const os::Variant* id = instance.find(u"DeviceID");
      if (id == nullptr || id->type != win::VtBstr ||
          upperAsciiWide(id->text) != upperAsciiWide(*parsed->deviceId))
        continue;
    }
    if (!parsed->properties.empty()) {
      // A projection keeps the class's properties but fills only those asked for.
      for (auto& [name, value] : instance.properties) {
        // clang 14 cannot capture a structured binding.
        const os::WString upperName = upperAsciiWide(name);
        const bool selected = std::any_of(
            parsed->properties.begin(), parsed->properties.end(),
            [&](const os::WString& wanted) { return upperAsciiWide(wanted) == upperName; });
        if (!selected) value = nullVariant();
      }
    }
    enumerator.results.push_back(std::move(instance));
  }
  return {win::SOk, add(std::move(enumerator))};
}

os::NextResult Management::enumNext(os::ComRef enumerator, std::int32_t) {
  Reference* r = find(enumerator);
  if (r == nullptr || r->kind != Reference::Kind::Enumerator) return {win::EInvalidArg, 0, 0};
  if (r->position >= r->results.size()) return {win::WbemSFalse, 0, 0};
  WmiInstance instance = r->results[r->position++];
  return {win::SOk, add(Reference{Reference::Kind::Object, {}, {}, 0, std::move(instance)}), 1};
}

std::int32_t Management::objectGet(os::ComRef object, os::WStringView name, os::Variant& value) {
  const Reference* r = find(object);
  if (r == nullptr || r->kind != Reference::Kind::Object) return win::EInvalidArg;
  const os::Variant* found = r->instance.find(name);
  if (found == nullptr) return win::WbemENotFound;
  value = *found;
  return win::SOk;
}

void Management::release(os::ComRef object) {
  if (refs_.erase(object) == 0) ++state_->badReleases;
}

ComState& Management::state() { return *state_; }

std::size_t Management::liveReferences() const { return refs_.size(); }

}  // namespace pbaloader::sim
