// Reads the elevation request and the version back from the built pbaloader.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// pbaloader.exe is built beside the test executable.
std::wstring toolPath() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"pbaloader.exe";
}

TEST(Resources, ManifestRequiresAdministrator) {
  HMODULE tool = LoadLibraryExW(toolPath().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(tool, nullptr) << GetLastError();
  HRSRC found = FindResourceW(tool, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr) << GetLastError();
  HGLOBAL loaded = LoadResource(tool, found);
  ASSERT_NE(loaded, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(loaded));
  const std::string manifest(bytes, SizeofResource(tool, found));
  FreeLibrary(tool);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""),
            std::string::npos)
      << manifest;
}

TEST(Resources, VersionIs310) {
  const std::wstring path = toolPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00030001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00030001u);

  for (const wchar_t* key : {L"\\StringFileInfo\\040904b0\\FileVersion",
                             L"\\StringFileInfo\\040904b0\\ProductVersion"}) {
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"3.1.0");
  }
}

}  // namespace
