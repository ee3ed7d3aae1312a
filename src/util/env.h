// Env: the one way the service reaches the machine for everything a test needs to control: files
// and folders, the clock, the executable's own path and the environment variables. Whoever
// builds an object that needs one of these hands it an Env; the composition root
// (startup::TServicoOrvWs, the daemon, the programs' main) hands on the one it was given.
// Env::Default() is the real machine; MemEnv (mem_env.h) keeps everything in memory, and
// FaultyEnv (faulty_env.h) makes chosen calls of another Env fail.
//
// What reaches the operating system but is never varied by a test stays a free function in
// platform.h: thread names and priority, the allocator's settings, the regional settings as the
// host reports them, the local-time breakdown and the UTF-8 <-> path conversion. The listener's
// sockets have a seam of their own (host::INetPlatform).
//
// Paths are UTF-8 text. Errors come as std::error_code in the system's own terms, so a message
// built from one reads as the system says it.
//
// Thread safety: every Env may be called from any thread at once. Env::Default() is one
// immutable object for the whole process. An IAppendFile is used by one thread at a time (a
// file kept open across calls is guarded by its owner's lock).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "util/datetime.h"

namespace orv::util {

// A rewrite goes first to a new file beside the file, under its name followed by this suffix
// ("orvws.ini.tmp"), which then takes the file's place: a full disk or a crash midway never
// leaves the file empty or half made. The name is fixed, so a file left by a crash is reused by
// the next write, not piled up.
inline constexpr std::string_view kNewFileSuffix = ".tmp";

enum class ReadStatus { kOk, kNotFound, kCannotOpen, kTooLarge };
struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  std::string bytes;       // kOk: the content; kTooLarge: its first max_bytes bytes
  std::error_code error;   // kNotFound, kCannotOpen: the system's reason; kTooLarge: too large
};

enum class PathKind { kMissing, kFile, kFolder };

// A file opened for appending. It stays the same file while open: moved, renamed or deleted,
// it goes on taking what is appended where it now is.
class IAppendFile {
 public:
  virtual ~IAppendFile() = default;   // closes quietly when Close was not called
  // Writes the bytes after the file's end and hands them to the system before returning.
  virtual std::error_code Append(std::string_view bytes) = 0;
  // Whether `path` (links followed) still names this very file: false once it was moved away
  // or deleted, when another file took its place, or when the path cannot be looked at. On
  // Linux the file must also be reached through the same mount: a mount laid over its folder
  // (a read-only one, say) counts as another place, so the file is opened there again and the
  // mount's rules apply. Looks only, and costs one look at the path.
  virtual bool StillAt(const std::string& path) = 0;
  virtual std::error_code Close() = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The real machine.
  static Env& Default();

  // ---- Files and folders
  // The whole file, opened for reading only; while it is read other writers are excluded where
  // the platform allows it (Windows share mode). A file larger than max_bytes is kTooLarge. A
  // folder is kCannotOpen; a path whose file or folder is missing is kNotFound.
  virtual ReadResult ReadFile(const std::string& path, std::size_t max_bytes) = 0;
  // Replaces the file's content (creating it when absent) atomically: the bytes go to a new
  // file beside it (kNewFileSuffix), handed to the disk, which then takes the file's place; the
  // file keeps its permissions, and a link keeps pointing where it did (the file it names is
  // replaced). False when it cannot be written: the old file is untouched and nothing is left
  // beside it (something not ours under the new file's name is left alone).
  virtual bool WriteFileAtomic(const std::string& path, std::string_view bytes) = 0;
  // Opens the file for appending, creating it empty when missing.
  virtual std::error_code OpenAppend(const std::string& path,
                                     std::unique_ptr<IAppendFile>* file) = 0;
  // Creates the folder with every missing parent; a folder already there is no error.
  virtual std::error_code CreateFolders(const std::string& path) = 0;
  // What the path names (links followed); kMissing also when it cannot be looked at.
  virtual PathKind KindOf(const std::string& path) = 0;
  // Whether the caller may write the existing file (folder false) or make entries in the
  // existing folder (folder true): no error when it may. Looks only.
  virtual std::error_code WriteAccess(const std::string& path, bool folder) = 0;

  // ---- The clock: local wall-clock time with milliseconds.
  virtual TDateTime Now() = 0;

  // ---- The process
  // The running program's full path ("" when it cannot be found).
  virtual std::string ExecutablePath() = 0;
  // The value of an environment variable, or nothing when it is not set.
  virtual std::optional<std::string> EnvironmentVariable(std::string_view name) = 0;
};

// An Env that hands every call to another one; a wrapper overrides the calls it changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  ReadResult ReadFile(const std::string& path, std::size_t max_bytes) override {
    return target_.ReadFile(path, max_bytes);
  }
  bool WriteFileAtomic(const std::string& path, std::string_view bytes) override {
    return target_.WriteFileAtomic(path, bytes);
  }
  std::error_code OpenAppend(const std::string& path,
                             std::unique_ptr<IAppendFile>* file) override {
    return target_.OpenAppend(path, file);
  }
  std::error_code CreateFolders(const std::string& path) override {
    return target_.CreateFolders(path);
  }
  PathKind KindOf(const std::string& path) override { return target_.KindOf(path); }
  std::error_code WriteAccess(const std::string& path, bool folder) override {
    return target_.WriteAccess(path, folder);
  }
  TDateTime Now() override { return target_.Now(); }
  std::string ExecutablePath() override { return target_.ExecutablePath(); }
  std::optional<std::string> EnvironmentVariable(std::string_view name) override {
    return target_.EnvironmentVariable(name);
  }

 private:
  Env& target_;
};

}  // namespace orv::util
