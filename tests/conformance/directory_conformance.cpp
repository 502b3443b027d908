// Folder listings and the process's directories, as the image search and the
// disk cleaning see them.
#include <algorithm>
#include <string>
#include <vector>

#include "conformance/env.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

std::vector<os::WString> namesOf(const std::vector<os::DirEntry>& entries) {
  std::vector<os::WString> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

class DirectoryListing : public ConformanceTest {};

TEST_F(DirectoryListing, DotEntriesComeFirstThenEveryEntryOnce) {
  const os::WString folder = env().makeFolder();
  env().makeFile(folder, u"b.txt", "b");
  env().makeFile(folder, u"pba_a.bin", "a");
  const auto listing = platform().listDirectoryW(folder);
  ASSERT_EQ(listing.error, 0u);
  ASSERT_EQ(listing.value.size(), 4u);
  EXPECT_EQ(listing.value[0].name, u".");
  EXPECT_EQ(listing.value[1].name, u"..");
  EXPECT_TRUE(listing.value[0].directory && listing.value[1].directory);
  auto rest = namesOf({listing.value.begin() + 2, listing.value.end()});
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<os::WString>{u"b.txt", u"pba_a.bin"}));
  for (std::size_t i = 2; i < listing.value.size(); ++i) {
    EXPECT_FALSE(listing.value[i].directory);
    EXPECT_FALSE(listing.value[i].reparsePoint);
  }
}

TEST_F(DirectoryListing, TrailingSeparatorListsTheSameFolder) {
  const os::WString folder = env().makeFolder();
  env().makeFile(folder, u"x.pkg", "x");
  const auto plain = platform().listDirectoryW(folder);
  const auto slashed = platform().listDirectoryW(folder + env().separator);
  ASSERT_EQ(plain.error, 0u);
  ASSERT_EQ(slashed.error, 0u);
  EXPECT_EQ(namesOf(plain.value), namesOf(slashed.value));
}

TEST_F(DirectoryListing, MissingFolderFailsWithPathNotFound) {
  const auto listing = platform().listDirectoryW(env().makeFolder() + env().separator + u"missing");
  EXPECT_EQ(listing.error, win::ErrorPathNotFound);
  EXPECT_TRUE(listing.value.empty());
}

TEST_F(DirectoryListing, FileIsNotAFolder) {
  const os::WString file = env().makeFile(env().makeFolder(), u"plain.txt", "x");
  const auto listing = platform().listDirectoryW(file);
  EXPECT_NE(listing.error, 0u);
  EXPECT_TRUE(listing.value.empty());
  PBA_SKIP_UNDER_WINE("it reports ERROR_INVALID_NAME (123) for a file listed as a folder");
  EXPECT_EQ(listing.error, win::ErrorDirectory);
}

class ProcessDirectories : public ConformanceTest {};

TEST_F(ProcessDirectories, CurrentAndSystemAreAbsolute) {
  PBA_SKIP_ON_LINUX_HOST("the current directory is a Linux path; LinuxHost tests check it");
  for (const auto& r : {platform().getCurrentDirectoryW(), platform().getSystemDirectoryW()}) {
    ASSERT_EQ(r.error, 0u);
    ASSERT_GE(r.value.size(), 3u);
    EXPECT_EQ(r.value[1], u':');
    EXPECT_EQ(r.value[2], u'\\');
  }
}

}  // namespace
}  // namespace pbaloader::conformance
