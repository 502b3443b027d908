// The command interpreter behind system(), the partitioning utility it starts
// and FindFirstFileW-style folder listings, on the simulated machine.
#include "platform/sim/shell.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t PartitionTableArea = 1u << 20;  // what "clean" zeroes at each end
constexpr int ExitNotRecognised = 9009;                 // cmd.exe: program not found
constexpr int UtilityOk = 0;
constexpr int UtilityBadArguments = 2;
constexpr int UtilityCannotOpenScript = 3;
constexpr int UtilityCommandFailed = 5;

WString upper(os::WStringView text) {
  WString out(text);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

std::string lower(std::string text) {
  for (auto& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Host names and description texts are UTF-8.
WString wide(const std::string& text) { return fs::path(text).u16string(); }
std::string narrow(const WString& text) { return fs::path(text).string(); }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// "C:\" stays as it is; any other folder loses its trailing separators.
WString withoutTrailingSeparator(WString path) {
  while (path.size() > 3 && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  return path;
}

bool isDriveRoot(os::WStringView path) {
  return path.size() == 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

WString joinWindows(const WString& folder, os::WStringView name) {
  WString out = folder;
  if (!out.empty() && out.back() != u'\\' && out.back() != u'/') out.push_back(u'\\');
  out.append(name);
  return out;
}

// One command line as cmd.exe /c splits it: words and redirections.
struct Redirect {
  int stream = 1;
  std::string target;
  bool append = false;
};
struct CommandLine {
  std::vector<std::string> words;
  std::vector<Redirect> redirects;
  bool unsupported = false;  // pipes and command chaining: the tool never sends them
};

CommandLine splitCommandLine(std::string_view line) {
  CommandLine out;
  std::string word;
  bool inWord = false;
  auto endWord = [&] {
    if (inWord) out.words.push_back(word);
    word.clear();
    inWord = false;
  };
  std::size_t i = 0;
  auto readTarget = [&]() {
    while (i < line.size() && isBlank(line[i])) ++i;
    std::string target;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        quoted = !quoted;
        continue;
      }
      if (!quoted && (isBlank(c) || c == '>' || c == '<' || c == '|')) break;
      target.push_back(c);
    }
    return target;
  };
  bool quoted = false;
  while (i < line.size()) {
    const char c = line[i];
    if (quoted) {
      if (c == '"')
        quoted = false;
      else
        word.push_back(c);
      ++i;
      continue;
    }
    if (c == '"') {
      quoted = true;
      inWord = true;
      ++i;
    } else if (isBlank(c)) {
      endWord();
      ++i;
    } else if (c == '>' || c == '<') {
      Redirect r;
      r.stream = c == '<' ? 0 : 1;
      // A single digit right before the operator names the stream.
      if (inWord && word.size() == 1 && std::isdigit(static_cast<unsigned char>(word[0]))) {
        r.stream = word[0] - '0';
        word.clear();
        inWord = false;
      }
      endWord();
      ++i;
      if (c == '>' && i < line.size() && line[i] == '>') {
        r.append = true;
        ++i;
      }
      r.target = readTarget();
      out.redirects.push_back(r);
    } else if (c == '&' || c == '|') {
      out.unsupported = true;
      ++i;
    } else {
      word.push_back(c);
      inWord = true;
      ++i;
    }
  }
  endWord();
  return out;
}

}  // namespace

void Shell::load(const nlohmann::json& d) {
  if (d.contains("folders")) {
    for (auto& [folder, entry] : d.at("folders").items()) {
      const WString key =
          upper(withoutTrailingSeparator(machine_.files.absolutePath(wide(folder))));
      if (entry.value("unreadable", false)) unreadableFolders.insert(key);
      if (entry.contains("order")) {
        auto& names = listingOrder[key];
        for (const auto& name : entry.at("order")) names.push_back(wide(name.get<std::string>()));
      }
    }
  }
  if (d.contains("shell")) {
    const auto& shell = d.at("shell");
    if (shell.contains("path")) {
      searchPath_.emplace();
      for (const auto& folder : shell.at("path"))
        searchPath_->push_back(wide(folder.get<std::string>()));
    }
    if (shell.contains("runLog")) {
      fs::path log = shell.at("runLog").get<std::string>();
      runLog = log.is_relative() ? machine_.baseDir / log : log;
    }
    if (shell.contains("rewriteScript")) {
      const std::string text = shell.at("rewriteScript").get<std::string>();
      beforeCommand = [this, text] { rewriteScript(text); };
    }
  }
}

std::vector<WString> Shell::searchPath() const {
  if (searchPath_) return *searchPath_;
  WString windows = machine_.systemDirectory;
  const auto cut = windows.find_last_of(u"\\/");
  if (cut != WString::npos) windows.resize(cut);
  return {machine_.systemDirectory, windows};
}

bool Shell::isPartitioningUtility(const WString& windowsPath) const {
  return upper(windowsPath) == upper(joinWindows(machine_.systemDirectory, u"diskpart.exe"));
}

bool Shell::programExists(const WString& windowsPath) {
  if (isPartitioningUtility(windowsPath)) return true;
  const auto host = machine_.files.hostPathOf(windowsPath);
  std::error_code ec;
  return host && fs::is_regular_file(*host, ec);
}

std::optional<WString> Shell::resolveProgram(const std::string& name) {
  const WString program = wide(name);
  static const std::vector<WString> extensions = {u".com", u".exe", u".bat", u".cmd"};
  const auto lastSep = program.find_last_of(u"\\/");
  const WString leaf = lastSep == WString::npos ? program : program.substr(lastSep + 1);
  const bool hasExtension = leaf.find(u'.') != WString::npos;
  auto tryBase = [&](const WString& base) -> std::optional<WString> {
    if (hasExtension && programExists(base)) return base;
    for (const auto& ext : extensions)
      if (programExists(base + ext)) return base + ext;
    return std::nullopt;
  };
  if (program.find_first_of(u"\\/:") != WString::npos)
    return tryBase(machine_.files.absolutePath(program));
  // A bare name: the current directory first, then the search path.
  if (auto found = tryBase(joinWindows(machine_.currentDirectory, program))) return found;
  for (const auto& folder : searchPath())
    if (auto found = tryBase(joinWindows(folder, program))) return found;
  return std::nullopt;
}

int Shell::runSystemCommand(std::string_view commandLine) {
  commandLines.emplace_back(commandLine);
  if (beforeCommand) beforeCommand();

  // cmd.exe /c keeps a leading quote pair only when it holds one blank-containing
  // program path and nothing else is quoted; otherwise it drops the first and
  // the last quote of the line.
  std::string line(commandLine);
  const auto first = line.find_first_not_of(" \t");
  if (first != std::string::npos && line[first] == '"') {
    const auto count = std::count(line.begin(), line.end(), '"');
    const auto close = line.find('"', first + 1);
    bool keep = false;
    if (count == 2 && close != std::string::npos) {
      const std::string inner = line.substr(first + 1, close - first - 1);
      keep = inner.find_first_of("&<>()@^|") == std::string::npos &&
             inner.find_first_of(" \t") != std::string::npos && resolveProgram(inner).has_value();
    }
    if (!keep) {
      line.erase(first, 1);
      const auto last = line.rfind('"');
      if (last != std::string::npos) line.erase(last, 1);
    }
  }

  CommandLine parsed = splitCommandLine(line);
  std::string out;
  std::string err;
  int status = 0;
  if (parsed.words.empty()) {
    status = 0;
  } else if (parsed.unsupported) {
    err = "The simulated command interpreter runs one program per line.\n";
    status = 1;
  } else if (auto program = resolveProgram(parsed.words[0])) {
    std::vector<std::string> args(parsed.words.begin() + 1, parsed.words.end());
    status = runProgram(*program, args, out);
  } else {
    err = "'" + parsed.words[0] +
          "' is not recognized as an internal or external command,\n"
          "operable program or batch file.\n";
    status = ExitNotRecognised;
  }

  // Where each stream goes: the console unless redirected.
  std::optional<std::string> outTarget;
  std::optional<std::string> errTarget;
  bool outAppend = false;
  bool errAppend = false;
  for (const auto& r : parsed.redirects) {
    if (r.stream == 1) {
      outTarget = r.target;
      outAppend = r.append;
    } else if (r.stream == 2) {
      errTarget = r.target == "&1" ? outTarget : std::optional<std::string>(r.target);
      errAppend = r.append;
    }
  }
  auto deliver = [&](const std::string& text, const std::optional<std::string>& target,
                     bool append) {
    if (text.empty()) return;
    if (!target) {
      machine_.console.writeStdout(text);
      return;
    }
    if (lower(*target) == "nul") return;
    const WString path = wide(*target);
    auto h = machine_.files.createFileW(path, win::GenericWrite, win::FileShareRead,
                                        append ? win::OpenAlways : win::CreateAlways,
                                        win::FileAttributeNormal);
    if (h.value == os::InvalidHandle) return;
    if (append) machine_.files.setFilePointer(h.value, 0, nullptr, win::FileEnd);
    machine_.files.writeFile(h.value, text.data(), static_cast<std::uint32_t>(text.size()));
    machine_.files.closeHandle(h.value);
  };
  deliver(out, outTarget, outAppend);
  deliver(err, errTarget, errAppend);
  return status;
}

int Shell::runProgram(const WString& program, const std::vector<std::string>& args,
                      std::string& out) {
  programsRun.push_back(narrow(program));
  if (runLog) std::ofstream(*runLog, std::ios::app) << programsRun.back() << "\n";
  if (isPartitioningUtility(program)) return runPartitioningUtility(args, out);
  // Any other program found on the machine is a stand-in that does nothing,
  // so that a test can see that it was started.
  return 0;
}

int Shell::runPartitioningUtility(const std::vector<std::string>& args, std::string& out) {
  std::optional<std::string> scriptName;
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (lower(args[i]) == "/s" || lower(args[i]) == "-s") scriptName = args[i + 1];
  if (!scriptName) {
    out += "\nThe arguments specified for this command are not valid.\n";
    return UtilityBadArguments;
  }

  // The utility opens the script the way a reader that tolerates other
  // readers and writers does.
  const WString scriptPath = machine_.files.absolutePath(wide(*scriptName));
  auto h = machine_.files.createFileW(scriptPath, win::GenericRead,
                                      win::FileShareRead | win::FileShareWrite, win::OpenExisting,
                                      win::FileAttributeNormal);
  if (h.value == os::InvalidHandle) {
    out += "\nThe file specified in the script parameter could not be opened.\n";
    return UtilityCannotOpenScript;
  }
  std::string script;
  char chunk[4096];
  for (;;) {
    const auto r = machine_.files.readFile(h.value, chunk, sizeof chunk);
    if (!r.ok || r.count == 0) break;
    script.append(chunk, r.count);
  }
  machine_.files.closeHandle(h.value);
  scriptsRun.push_back(script);

  int selected = -1;
  std::size_t start = 0;
  while (start <= script.size()) {
    auto end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string text = lower(script.substr(start, end - start));
    start = end + 1;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < text.size();) {
      while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
      std::size_t j = i;
      while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
      if (j > i) words.push_back(text.substr(i, j - i));
      i = j;
    }
    if (words.empty() || words[0] == "rem") continue;
    if (words[0] == "exit") break;
    if ((words[0] == "select" || words[0] == "sel") && words.size() == 3 && words[1] == "disk") {
      std::uint32_t number = 0;
      bool numeric = !words[2].empty() && words[2].size() <= 9;
      for (char c : words[2]) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
      if (numeric) number = static_cast<std::uint32_t>(std::stoul(words[2]));
      selected = numeric ? machine_.diskIndexByNumber(number) : -1;
      if (selected < 0) {
        out += "\nThe disk you specified is not valid.\n";
        return UtilityCommandFailed;
      }
      out += "\nDisk " + words[2] + " is now the selected disk.\n";
    } else if (words[0] == "clean" && words.size() <= 2) {
      if (selected < 0) {
        out += "\nThere is no disk selected.\n";
        return UtilityCommandFailed;
      }
      const bool all = words.size() == 2 && words[1] == "all";
      if (words.size() == 2 && !all) {
        out += "\nThe arguments specified for this command are not valid.\n";
        return UtilityCommandFailed;
      }
      if (!cleanDisk(selected, all)) {
        out += "\nThe request could not be performed because of an I/O device error.\n";
        return UtilityCommandFailed;
      }
      out += "\nDiskPart succeeded in cleaning the disk.\n";
    } else {
      out += "\nThe command is not valid in this simulation: " + text + "\n";
      return UtilityCommandFailed;
    }
  }
  return UtilityOk;
}

bool Shell::cleanDisk(int index, bool all) {
  SimDisk& disk = machine_.disks[static_cast<std::size_t>(index)];
  const std::uint64_t size = disk.store->size();
  std::vector<char> zeros(64 * 1024, 0);
  auto zero = [&](std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t at = from; at < to;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), to - at));
      if (!disk.store->write(at, zeros.data(), n)) return false;
      at += n;
    }
    return true;
  };
  // MBR and the primary GPT sit at the start, the backup GPT at the end.
  const std::uint64_t head = std::min(size, PartitionTableArea);
  const std::uint64_t tail = size > PartitionTableArea ? size - PartitionTableArea : 0;
  // A disk that fails writes there fails the utility too, and keeps its bytes.
  const IoFaults& faults = machine_.files.diskFaults(index);
  if (faults.failWritesFrom && *faults.failWritesFrom < size) return false;
  const bool ok = all ? zero(0, size) : zero(0, head) && zero(std::max(head, tail), size);
  if (!ok || !disk.store->partitionsWiped()) return false;
  machine_.setup.clearPartitions(index);
  return true;
}

void Shell::rewriteScript(const std::string& text) {
  const WString path = joinWindows(machine_.currentDirectory, u"s.txt");
  auto h = machine_.files.createFileW(
      path, win::GenericWrite, win::FileShareRead | win::FileShareWrite | win::FileShareDelete,
      win::TruncateExisting, win::FileAttributeNormal);
  if (h.value == os::InvalidHandle) return;
  machine_.files.writeFile(h.value, text.data(), static_cast<std::uint32_t>(text.size()));
  machine_.files.closeHandle(h.value);
}

os::Result<std::vector<os::DirEntry>> Shell::listDirectoryW(os::WStringView directory) {
  const WString folder = withoutTrailingSeparator(machine_.files.absolutePath(directory));
  const WString key = upper(folder);
  if (unreadableFolders.count(key) != 0) return {{}, win::ErrorAccessDenied};
  const auto host = machine_.files.hostPathOf(folder);
  std::error_code ec;
  if (!host || !fs::exists(*host, ec)) return {{}, win::ErrorPathNotFound};
  if (!fs::is_directory(*host, ec)) return {{}, win::ErrorDirectory};

  std::vector<os::DirEntry> entries;
  fs::directory_iterator it(*host, ec);
  if (ec) return {{}, win::ErrorAccessDenied};
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return {{}, win::ErrorAccessDenied};
    os::DirEntry entry;
    entry.name = wide(it->path().filename().string());
    std::error_code kindError;
    entry.reparsePoint = it->is_symlink(kindError);
    entry.directory = fs::is_directory(it->path(), kindError);
    entries.push_back(std::move(entry));
  }
  if (ec) return {{}, win::ErrorAccessDenied};

  // NTFS lists a folder in the order of its upper-cased names; a description
  // can put named entries first.
  const auto order = listingOrder.find(key);
  auto rank = [&](const os::DirEntry& e) -> std::size_t {
    if (order == listingOrder.end()) return 0;
    const WString name = upper(e.name);
    for (std::size_t i = 0; i < order->second.size(); ++i)
      if (upper(order->second[i]) == name) return i;
    return order->second.size();
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
    const auto ra = rank(a);
    const auto rb = rank(b);
    if (ra != rb) return ra < rb;
    return upper(a.name) < upper(b.name);
  });

  // Drive roots have no "." and ".." entries.
  if (!isDriveRoot(folder)) {
    entries.insert(entries.begin(),
                   {os::DirEntry{u".", true, false}, os::DirEntry{u"..", true, false}});
  }
  return {std::move(entries), 0};
}

}  // namespace pbaloader::sim
