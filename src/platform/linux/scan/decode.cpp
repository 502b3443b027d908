#include "platform/linux/scan/decode.h"

#include <charconv>
#include <regex>
#include <sstream>

namespace pbaloader::host {
namespace {

std::uint64_t number(const std::string& digits) {
  std::uint64_t v = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return v;
}

// sda..sdz, sdaa..: bijective base 26, as the sd driver counts.
std::uint64_t letters(const std::string& s) {
  std::uint64_t v = 0;
  for (char c : s) v = v * 26 + static_cast<std::uint64_t>(c - 'a' + 1);
  return v;
}

std::string unescapeOctal(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && s.size() - i >= 4 && s[i + 1] >= '0' && s[i + 1] <= '3' &&
        s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out.push_back(
          static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string ataString(std::string_view identify, std::size_t firstWord, std::size_t words) {
  std::string s;
  for (std::size_t w = firstWord; w < firstWord + words; ++w) {
    s.push_back(identify[2 * w + 1]);
    s.push_back(identify[2 * w]);
  }
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = ' ';
  }
  return trimmed(s);
}

}  // namespace

std::string trimmed(std::string_view s) {
  const char* blanks = " \t\r\n";
  auto b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(blanks);
  return std::string(s.substr(b, e - b + 1));
}

std::optional<DiskNameKey> wholeDiskName(std::string_view name) {
  static const std::regex lettered("(sd|vd|xvd)([a-z]+)");
  static const std::regex nvme("nvme([0-9]+)n([0-9]+)");
  static const std::regex mmc("mmcblk([0-9]+)");
  const std::string n(name);
  std::smatch m;
  if (std::regex_match(n, m, lettered)) return DiskNameKey{m[1], {letters(m[2])}};
  if (std::regex_match(n, m, nvme)) return DiskNameKey{"nvme", {number(m[1]), number(m[2])}};
  if (std::regex_match(n, m, mmc)) return DiskNameKey{"mmcblk", {number(m[1])}};
  return std::nullopt;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> parseDevNumber(std::string_view text) {
  std::uint32_t major = 0, minor = 0;
  auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto r1 = std::from_chars(text.data(), text.data() + colon, major);
  auto r2 = std::from_chars(text.data() + colon + 1, text.data() + text.size(), minor);
  if (r1.ec != std::errc() || r1.ptr != text.data() + colon || r2.ec != std::errc() ||
      r2.ptr != text.data() + text.size() || colon == 0) {
    return std::nullopt;
  }
  return std::pair{major, minor};
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 5) continue;
    auto dev = parseDevNumber(f[2]);
    if (!dev) continue;
    MountEntry e;
    e.major = dev->first;
    e.minor = dev->second;
    e.mountPoint = unescapeOctal(f[4]);
    if (dash + 1 < f.size()) e.fsType = f[dash + 1];
    if (dash + 2 < f.size()) e.source = unescapeOctal(f[dash + 2]);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string vpdUnitSerial(std::string_view page) {
  if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return {};
  std::size_t length = static_cast<unsigned char>(page[3]);
  return trimmed(page.substr(4, std::min(length, page.size() - 4)));
}

std::optional<AtaIdentity> vpdAtaIdentity(std::string_view page) {
  constexpr std::size_t kIdentify = 60;
  if (page.size() < kIdentify + 512 || static_cast<unsigned char>(page[1]) != 0x89) {
    return std::nullopt;
  }
  std::string_view id = page.substr(kIdentify, 512);
  return AtaIdentity{ataString(id, 27, 20), ataString(id, 10, 10), ataString(id, 23, 4)};
}

}  // namespace pbaloader::host
