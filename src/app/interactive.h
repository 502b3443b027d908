// The menu-driven mode's pieces that tests reach on their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pbaloader {

// Full paths of the candidate image files under the current directory, the
// one met last by the depth-first walk first. Throws std::system_error when
// a folder cannot be listed.
std::vector<std::string> findImageFiles();
// Whether a file or folder name looks like a PBA image.
bool isImageFileName(const std::string& name);
// The current directory with one trailing "\": what is cut from the front of
// a found path to show it.
std::string imageDirectoryPrefix(const std::string& startDirectory);

// Reads numbers until one in lowest..highest or -1 arrives; -1 also when the
// input ends. Words that are not numbers are passed over.
std::int32_t askNumber(std::int32_t lowest, std::int32_t highest);

}  // namespace pbaloader
