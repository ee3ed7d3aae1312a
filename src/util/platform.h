// The operating-system layer of the utilities: environment variables, local time, the host's
// regional settings, system error texts, the executable's own path and whole-file reading.
// Everything here is a thin wrapper over the platform's calls; the rest of the code base
// reaches the operating system only through these functions (or through interfaces built on
// them), so that tests can replace them.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "util/regional.h"

namespace orv::util::platform {

#ifdef _WIN32
inline constexpr char kPathListSeparator = ';';
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kPathListSeparator = ':';
inline constexpr char kFolderSeparator = '/';
#endif

// The value of an environment variable as UTF-8, or nothing when it is not set.
std::optional<std::string> EnvironmentVariable(std::string_view name);

// Broken-down local time of a moment (seconds since the epoch).
std::tm LocalTime(std::time_t moment);

// The host's regional settings as the operating system reports them (see regional.h).
RegionalSettings HostRegionalSettings();

// The system's text for an error number (errno on POSIX, GetLastError codes on Windows).
std::string SystemErrorText(int code);

// Sets how the C library's allocator holds memory, before the program allocates much: blocks
// of at least `mmap_threshold` bytes get pages of their own, given back to the system when
// freed (the allocator would otherwise raise that bound after each large block freed and keep
// later ones in its heaps for good), and at most `arenas` heaps serve the threads. Does
// nothing where the allocator has no such settings.
void ConfigureAllocator(std::size_t mmap_threshold, int arenas);

// Names the calling thread for the system's tools (top -H, ps -L, a debugger); at most 15
// characters are kept. Does nothing where the platform has no thread names.
void NameCurrentThread(const char* name);

// Lowers the calling thread's scheduling priority by `niceness` steps (for good: raising it back
// needs a privilege). Does nothing where threads have no priority of their own.
void LowerCurrentThreadPriority(int niceness);

// The running program's full path ("" when it cannot be found).
std::string ExecutablePath();

// A UTF-8 path text as a filesystem path (the system's wide form on Windows), and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

enum class ReadStatus { kOk, kNotFound, kCannotOpen, kTooLarge };
struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  std::string bytes;   // the content when kOk
  int error = 0;       // the system error number when kCannotOpen
};
// Reads a whole file opened for reading only; while it is read other writers are excluded
// where the platform allows it (Windows share mode). A file larger than max_bytes is not
// read (kTooLarge).
ReadResult ReadWholeFile(const std::string& path, std::size_t max_bytes);

}  // namespace orv::util::platform
