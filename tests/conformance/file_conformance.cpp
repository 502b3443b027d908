// File behaviours the image operations rely on, one row each: what CreateFileW,
// ReadFile, WriteFile, SetFilePointer and DeleteFileW report.
#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "conformance/env.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

using os::Handle;
using os::InvalidHandle;
using os::WString;
constexpr std::uint32_t ReadWrite = win::GenericRead | win::GenericWrite;
constexpr std::uint32_t ShareRW = win::FileShareRead | win::FileShareWrite;

// One row's working area and the observations it makes, as text, so that a
// failing row shows every step at once.
class Steps {
 public:
  Steps(os::Platform& p, WString folder) : p_(p), folder_(std::move(folder)) {}
  ~Steps() {
    for (Handle h : open_) p_.closeHandle(h);
  }
  WString path(std::u16string_view name) const { return folder_ + env().separator + WString(name); }
  const WString& folder() const { return folder_; }

  // "open ok", "open ok 183" or "open fail <error>"; keeps the handle.
  Handle open(const WString& path, std::uint32_t access, std::uint32_t share,
              std::uint32_t disposition) {
    const auto r = p_.createFileW(path, access, share, disposition, win::FileAttributeNormal);
    if (r.value == InvalidHandle) {
      note(fmt::format("open fail {}", r.error));
    } else {
      note(r.error == 0 ? std::string("open ok") : fmt::format("open ok {}", r.error));
      open_.push_back(r.value);
    }
    return r.value;
  }
  void read(Handle h, std::uint32_t size) {
    std::string buffer(size, '\0');
    const auto r = p_.readFile(h, buffer.data(), size);
    if (r.ok)
      note(fmt::format("read {} '{}'", r.count, buffer.substr(0, r.count)));
    else
      note(fmt::format("read fail {}", r.error));
  }
  void write(Handle h, std::string_view bytes) {
    const auto r = p_.writeFile(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    note(r.ok ? fmt::format("write {}", r.count) : fmt::format("write fail {}", r.error));
  }
  // SetFilePointer with the high part; "seek <high>:<low>" or "seek fail <error>".
  void seek(Handle h, std::int64_t distance, std::uint32_t method) {
    std::int32_t high = static_cast<std::int32_t>(distance >> 32);
    const auto r = p_.setFilePointer(h, static_cast<std::int32_t>(distance), &high, method);
    if (r.low == win::InvalidSetFilePointer && r.error != 0)
      note(fmt::format("seek fail {}", r.error));
    else
      note(fmt::format("seek {}:{:#x}", r.high, r.low));
  }
  void close(Handle h) {
    std::erase(open_, h);
    note(p_.closeHandle(h).ok ? "close ok" : "close fail");
  }
  void remove(const WString& path) {
    const auto r = p_.deleteFileW(path);
    note(r.ok ? std::string("delete ok") : fmt::format("delete fail {}", r.error));
  }
  void note(std::string text) { log_ += (log_.empty() ? "" : "; ") + text; }
  const std::string& log() const { return log_; }

 private:
  os::Platform& p_;
  WString folder_;
  std::vector<Handle> open_;
  std::string log_;
};

struct Row {
  const char* name;
  std::function<void(Env&, Steps&)> act;
  const char* expected;
  const char* wineDiffers = nullptr;  // why the row is skipped under Wine
};

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"missing file is not created by OPEN_EXISTING",
       [](Env&, Steps& s) {
         s.open(s.path(u"none.bin"), ReadWrite, ShareRW, win::OpenExisting);
         s.open(s.path(u"none.bin"), win::GenericRead, ShareRW, win::OpenExisting);
       },
       "open fail 2; open fail 2"},
      {"missing folder",
       [](Env&, Steps& s) {
         s.open(s.path(u"nodir") + env().separator + u"x.bin", win::GenericRead, ShareRW,
                win::OpenExisting);
       },
       "open fail 3"},
      {"read-only file refuses write access, allows read",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"ro.bin", "abc", true);
         s.open(f, ReadWrite, ShareRW, win::OpenExisting);
         s.read(s.open(f, win::GenericRead, ShareRW, win::OpenExisting), 3);
       },
       "open fail 5; open ok; read 3 'abc'",
       "it keeps the read-only attribute in permission bits, which root is not held to"},
      {"exclusive handle blocks every other open",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"x.bin", "abc");
         s.open(f, ReadWrite, 0, win::OpenExisting);
         s.open(f, ReadWrite, ShareRW, win::OpenExisting);
         s.open(f, win::GenericRead, ShareRW, win::OpenExisting);
       },
       "open ok; open fail 32; open fail 32"},
      {"shared handles coexist; an exclusive open after them fails",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"x.bin", "abc");
         s.open(f, ReadWrite, ShareRW, win::OpenExisting);
         s.open(f, ReadWrite, ShareRW, win::OpenExisting);
         s.open(f, ReadWrite, 0, win::OpenExisting);
       },
       "open ok; open ok; open fail 32"},
      {"a reader that does not share writing blocks a writer",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"x.bin", "abc");
         s.open(f, win::GenericRead, win::FileShareRead, win::OpenExisting);
         s.open(f, ReadWrite, ShareRW, win::OpenExisting);
         s.open(f, win::GenericRead, ShareRW, win::OpenExisting);
       },
       "open ok; open fail 32; open ok"},
      {"closing the exclusive handle frees the file",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"x.bin", "abc");
         s.close(s.open(f, ReadWrite, 0, win::OpenExisting));
         s.open(f, ReadWrite, 0, win::OpenExisting);
       },
       "open ok; close ok; open ok"},
      {"reads at and past the end succeed with short and zero counts",
       [](Env& e, Steps& s) {
         const Handle h = s.open(e.makeFile(s.folder(), u"ten.bin", "0123456789"), win::GenericRead,
                                 ShareRW, win::OpenExisting);
         s.read(h, 8);
         s.read(h, 8);
         s.read(h, 8);
         s.seek(h, 100, win::FileBegin);
         s.read(h, 8);
       },
       "open ok; read 8 '01234567'; read 2 '89'; read 0 ''; seek 0:0x64; read 0 ''"},
      {"SetFilePointer takes and reports the high part",
       [](Env& e, Steps& s) {
         const Handle h = s.open(e.makeFile(s.folder(), u"s.bin", "abcdef"), win::GenericRead,
                                 ShareRW, win::OpenExisting);
         s.seek(h, 0x100000200, win::FileBegin);
         s.seek(h, 0x10, win::FileCurrent);
         s.seek(h, -0x100000210 + 2, win::FileCurrent);
         s.read(h, 2);
         s.seek(h, -1, win::FileEnd);
         s.read(h, 4);
       },
       "open ok; seek 1:0x200; seek 1:0x210; seek 0:0x2; read 2 'cd'; seek 0:0x5; read 1 'f'"},
      {"SetFilePointer before the start fails and leaves the position",
       [](Env& e, Steps& s) {
         const Handle h = s.open(e.makeFile(s.folder(), u"s.bin", "abcdef"), win::GenericRead,
                                 ShareRW, win::OpenExisting);
         s.seek(h, 3, win::FileBegin);
         s.seek(h, -4, win::FileCurrent);
         s.read(h, 1);
       },
       "open ok; seek 0:0x3; seek fail 131; read 1 'd'"},
      {"CREATE_ALWAYS truncates an existing file and says so",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"t.txt", "old contents");
         const Handle h = s.open(f, ReadWrite, 0, win::CreateAlways);
         s.read(h, 4);
         s.write(h, "new");
         s.close(h);
         s.read(s.open(f, win::GenericRead, ShareRW, win::OpenExisting), 16);
       },
       "open ok 183; read 0 ''; write 3; close ok; open ok; read 3 'new'"},
      {"CREATE_ALWAYS creates a missing file, CREATE_NEW refuses an existing one",
       [](Env& e, Steps& s) {
         // The Windows environment may hand out a folder of an earlier run.
         e.platform().deleteFileW(s.path(u"new.txt"));
         s.close(s.open(s.path(u"new.txt"), win::GenericWrite, 0, win::CreateAlways));
         s.open(s.path(u"new.txt"), win::GenericWrite, 0, win::CreateNew);
       },
       "open ok; close ok; open fail 80"},
      {"a handle without write access cannot write",
       [](Env& e, Steps& s) {
         const Handle h = s.open(e.makeFile(s.folder(), u"r.bin", "abc"), win::GenericRead, ShareRW,
                                 win::OpenExisting);
         s.write(h, "x");
       },
       "open ok; write fail 5"},
      {"DeleteFileW of a missing file, then of an existing one",
       [](Env& e, Steps& s) {
         s.remove(s.path(u"none.txt"));
         const WString f = e.makeFile(s.folder(), u"d.txt", "x");
         s.remove(f);
         s.open(f, win::GenericRead, ShareRW, win::OpenExisting);
       },
       "delete fail 2; delete ok; open fail 2"},
      {"DeleteFileW of a file open without delete sharing",
       [](Env& e, Steps& s) {
         const WString f = e.makeFile(s.folder(), u"d.txt", "x");
         s.open(f, win::GenericRead, ShareRW, win::OpenExisting);
         s.remove(f);
       },
       "open ok; delete fail 32"},
  };
  return table;
}

class FileConformance : public ConformanceTest, public ::testing::WithParamInterface<Row> {};

TEST_P(FileConformance, BehavesAsWindows) {
  if (GetParam().wineDiffers) PBA_SKIP_UNDER_WINE(GetParam().wineDiffers);
  Env& e = env();
  {
    Steps steps(platform(), e.makeFolder());
    GetParam().act(e, steps);
    EXPECT_EQ(steps.log(), GetParam().expected) << GetParam().name;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FileConformance, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c)
                             name.push_back(std::isalnum(static_cast<unsigned char>(*c)) ? *c
                                                                                         : '_');
                           return name;
                         });

}  // namespace
}  // namespace pbaloader::conformance
