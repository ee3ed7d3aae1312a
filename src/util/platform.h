// The operating-system layer of the utilities that no test varies: local time, the host's
// regional settings as it reports them, the allocator's settings, thread names and priority,
// the UTF-8 <-> path conversion and the separators of paths. Everything a test does vary
// (files and folders, the clock, the executable's path, environment variables) goes through
// util::Env (env.h); the listener's sockets through host::INetPlatform.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/regional.h"

namespace orv::util::platform {

// The separator of PATH's items, and the one folder separator that paths this program makes
// use ('\\' on Windows, '/' elsewhere).
#ifdef _WIN32
inline constexpr char kPathListSeparator = ';';
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kPathListSeparator = ':';
inline constexpr char kFolderSeparator = '/';
#endif
// The characters after which a path given to this program names something inside (Windows
// takes both slashes and the drive's colon).
#ifdef _WIN32
inline constexpr std::string_view kFolderSeparators = "\\/:";
#else
inline constexpr std::string_view kFolderSeparators = "/";
#endif

// Broken-down local time of a moment (seconds since the epoch).
std::tm LocalTime(std::time_t moment);

// The host's regional settings as the operating system reports them (see regional.h).
RegionalSettings HostRegionalSettings();

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

// A UTF-8 path text as a filesystem path (the system's wide form on Windows), and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace orv::util::platform
