// MemEnv: an Env whose files and folders live in memory, with a clock, environment variables and
// an executable path that the test sets. Folders behave as on disk: a file can be made only in
// a folder that exists, a folder cannot be read as a file, and a file in the way of a folder
// stops its creation. Paths are compared as written (no "." or ".." steps, no doubled
// separators); the root folder and the current folder ("") always exist. Nothing is ever
// refused for want of permission: FaultyEnv (faulty_env.h) makes calls fail. A file is itself,
// not its name, as on disk: one open for appending that is moved (Rename) or removed goes on
// taking what is appended, and a file put at its path is another file.
//
// Thread safety: any thread; one lock guards everything. Files opened for appending write into
// their file under the same lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "util/env.h"

namespace orv::util {

class MemEnv final : public Env {
 public:
  // An empty root, the clock at 2000-01-01 00:00:00.000, no environment variables and no
  // executable path.
  MemEnv();

  // ---- What the test sets and looks at
  // Puts the file with these bytes, making its folders.
  void PutFile(const std::string& path, std::string bytes);
  // Takes the file or the folder (with everything in it) away.
  void Remove(const std::string& path);
  // Moves the file to `to`, over a file there; `to`'s folder must exist.
  void Rename(const std::string& from, const std::string& to);
  // The file's bytes, or nothing when there is no such file.
  std::optional<std::string> FileBytes(const std::string& path) const;
  void SetNow(TDateTime now);
  void AdvanceMs(double ms);
  // nullopt unsets the variable.
  void SetEnvironmentVariable(const std::string& name, std::optional<std::string> value);
  void SetExecutablePath(std::string path);

  // ---- Env
  ReadResult ReadFile(const std::string& path, std::size_t max_bytes) override;
  bool WriteFileAtomic(const std::string& path, std::string_view bytes) override;
  std::error_code OpenAppend(const std::string& path, std::unique_ptr<IAppendFile>* file) override;
  std::error_code CreateFolders(const std::string& path) override;
  PathKind KindOf(const std::string& path) override;
  std::error_code WriteAccess(const std::string& path, bool folder) override;
  TDateTime Now() override;
  std::string ExecutablePath() override;
  std::optional<std::string> EnvironmentVariable(std::string_view name) override;

 private:
  class AppendFile;
  PathKind KindLocked(const std::string& path) const;
  // Why nothing is at `path`: a file in the way of its folders, or nothing there.
  std::error_code MissingLocked(const std::string& path) const;
  std::error_code MakeFoldersLocked(const std::string& path);

  mutable std::mutex mutex_;
  // Each file's bytes by path; the shared bytes are the file itself (what an open file keeps).
  std::map<std::string, std::shared_ptr<std::string>> files_;
  std::set<std::string> folders_;
  TDateTime now_;
  std::map<std::string, std::string, std::less<>> variables_;
  std::string executable_path_;
};

}  // namespace orv::util
