// What brimwell-render and brimwell-config share: error lines, path pieces
// and the wording of settings read results.
#pragma once
#include <cstdint>
#include <string>

namespace tools {

// The name in front of every error line; each program sets it in main.
extern const char* programName;

// Prints "<program>: <message>" as one line on stderr and returns `code`.
int fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "." for a bare name, "/" for a file in the root.
std::string parentDirectory(const std::string& path);
std::string baseName(const std::string& path);

// Why a ReadSettingsFile result is not a usable settings file, e.g. "is not
// a settings file (payload size above 124 bytes)".
const char* describeSettingsReadResult(int32_t result);

}  // namespace tools
