// The in-memory Env.
#include "util/mem_env.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "util/platform.h"

namespace orv::util {

namespace {

// The platform's separator, and '/' everywhere (Windows takes both).
bool IsSeparator(char c) { return c == '/' || c == platform::kFolderSeparator; }

// The path without trailing separators (the root keeps its one).
std::string Normal(std::string path) {
  while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
  return path;
}

// The folder a normal path is in; the root and "" are their own.
std::string Parent(const std::string& path) {
  std::size_t at = path.size();
  while (at > 0 && !IsSeparator(path[at - 1])) --at;
  if (at == 0) return {};
  if (at == 1) return path.substr(0, 1);
  return Normal(path.substr(0, at - 1));
}

bool IsRoot(const std::string& path) { return Parent(path) == path; }

std::error_code Error(std::errc e) { return std::make_error_code(e); }

}  // namespace

class MemEnv::AppendFile final : public IAppendFile {
 public:
  AppendFile(MemEnv& env, std::shared_ptr<std::string> file) : env_(env), file_(std::move(file)) {}
  std::error_code Append(std::string_view bytes) override {
    if (closed_) return Error(std::errc::bad_file_descriptor);
    std::lock_guard lock(env_.mutex_);
    file_->append(bytes);
    return {};
  }
  bool StillAt(const std::string& path) override {
    if (closed_) return false;
    std::lock_guard lock(env_.mutex_);
    const auto it = env_.files_.find(Normal(path));
    return it != env_.files_.end() && it->second == file_;
  }
  std::error_code Close() override {
    if (closed_) return Error(std::errc::bad_file_descriptor);
    closed_ = true;
    return {};
  }

 private:
  MemEnv& env_;
  const std::shared_ptr<std::string> file_;
  bool closed_ = false;
};

MemEnv::MemEnv() : now_(EncodeDateTime({2000, 1, 1, 0, 0, 0, 0})) {}

PathKind MemEnv::KindLocked(const std::string& path) const {
  if (files_.count(path) != 0) return PathKind::kFile;
  if (folders_.count(path) != 0 || IsRoot(path)) return PathKind::kFolder;
  return PathKind::kMissing;
}

std::error_code MemEnv::MissingLocked(const std::string& path) const {
  for (std::string p = Parent(path); !IsRoot(p); p = Parent(p))
    if (files_.count(p) != 0) return Error(std::errc::not_a_directory);
  return Error(std::errc::no_such_file_or_directory);
}

std::error_code MemEnv::MakeFoldersLocked(const std::string& path) {
  std::vector<std::string> chain;
  for (std::string p = Normal(path); !IsRoot(p); p = Parent(p)) chain.push_back(p);
  std::reverse(chain.begin(), chain.end());
  for (const std::string& p : chain) {
    if (files_.count(p) != 0)
      return Error(p == chain.back() ? std::errc::file_exists : std::errc::not_a_directory);
    folders_.insert(p);
  }
  return {};
}

void MemEnv::PutFile(const std::string& path, std::string bytes) {
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  if (MakeFoldersLocked(Parent(p)) || folders_.count(p) != 0)
    throw std::logic_error("MemEnv::PutFile: something in the way of " + path);
  files_[p] = std::make_shared<std::string>(std::move(bytes));
}

void MemEnv::Remove(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  files_.erase(p);
  folders_.erase(p);
  const std::string under = p + std::string(1, platform::kFolderSeparator);
  std::erase_if(files_, [&under](const auto& f) { return f.first.starts_with(under); });
  std::erase_if(folders_, [&under](const std::string& f) { return f.starts_with(under); });
}

void MemEnv::Rename(const std::string& from, const std::string& to) {
  std::lock_guard lock(mutex_);
  const std::string de = Normal(from), para = Normal(to);
  const auto it = files_.find(de);
  if (it == files_.end() || KindLocked(Parent(para)) != PathKind::kFolder ||
      folders_.count(para) != 0)
    throw std::logic_error("MemEnv::Rename: cannot move " + from + " to " + to);
  std::shared_ptr<std::string> file = std::move(it->second);
  files_.erase(it);
  files_[para] = std::move(file);
}

std::optional<std::string> MemEnv::FileBytes(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(Normal(path));
  if (it == files_.end()) return std::nullopt;
  return *it->second;
}

void MemEnv::SetNow(TDateTime now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

void MemEnv::AdvanceMs(double ms) {
  std::lock_guard lock(mutex_);
  now_ += ms / 86400000.0;
}

void MemEnv::SetEnvironmentVariable(const std::string& name, std::optional<std::string> value) {
  std::lock_guard lock(mutex_);
  if (value)
    variables_[name] = std::move(*value);
  else
    variables_.erase(name);
}

void MemEnv::SetExecutablePath(std::string path) {
  std::lock_guard lock(mutex_);
  executable_path_ = std::move(path);
}

ReadResult MemEnv::ReadFile(const std::string& path, std::size_t max_bytes) {
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  switch (KindLocked(p)) {
    case PathKind::kFolder:
      return ReadResult{ReadStatus::kCannotOpen, {}, Error(std::errc::is_a_directory)};
    case PathKind::kMissing: return ReadResult{ReadStatus::kNotFound, {}, MissingLocked(p)};
    case PathKind::kFile: break;
  }
  const std::string& bytes = *files_.at(p);
  if (bytes.size() > max_bytes)
    return ReadResult{ReadStatus::kTooLarge, bytes.substr(0, max_bytes),
                      Error(std::errc::file_too_large)};
  return ReadResult{ReadStatus::kOk, bytes, {}};
}

bool MemEnv::WriteFileAtomic(const std::string& path, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  if (KindLocked(p) == PathKind::kFolder || KindLocked(Parent(p)) != PathKind::kFolder ||
      folders_.count(p + std::string(kNewFileSuffix)) != 0)
    return false;
  files_[p] = std::make_shared<std::string>(bytes);   // a new file takes the path, as on disk
  return true;
}

std::error_code MemEnv::OpenAppend(const std::string& path, std::unique_ptr<IAppendFile>* file) {
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  if (KindLocked(p) == PathKind::kFolder) return Error(std::errc::is_a_directory);
  if (KindLocked(Parent(p)) != PathKind::kFolder) return MissingLocked(p);
  std::shared_ptr<std::string>& f = files_[p];
  if (!f) f = std::make_shared<std::string>();
  *file = std::make_unique<AppendFile>(*this, f);
  return {};
}

std::error_code MemEnv::CreateFolders(const std::string& path) {
  std::lock_guard lock(mutex_);
  return MakeFoldersLocked(path);
}

PathKind MemEnv::KindOf(const std::string& path) {
  std::lock_guard lock(mutex_);
  return KindLocked(Normal(path));
}

std::error_code MemEnv::WriteAccess(const std::string& path, bool folder) {
  (void)folder;
  std::lock_guard lock(mutex_);
  const std::string p = Normal(path);
  if (KindLocked(p) == PathKind::kMissing) return MissingLocked(p);
  return {};
}

TDateTime MemEnv::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

std::string MemEnv::ExecutablePath() {
  std::lock_guard lock(mutex_);
  return executable_path_;
}

std::optional<std::string> MemEnv::EnvironmentVariable(std::string_view name) {
  std::lock_guard lock(mutex_);
  const auto it = variables_.find(name);
  if (it == variables_.end()) return std::nullopt;
  return it->second;
}

}  // namespace orv::util
