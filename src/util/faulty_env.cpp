// The fault-injecting Env.
#include "util/faulty_env.h"

namespace orv::util {

class FaultyEnv::AppendFile final : public IAppendFile {
 public:
  AppendFile(FaultyEnv& env, std::unique_ptr<IAppendFile> file)
      : env_(env), file_(std::move(file)) {}
  std::error_code Append(std::string_view bytes) override {
    if (std::error_code e = env_.NextAppend()) return e;
    return file_->Append(bytes);
  }
  bool StillAt(const std::string& path) override { return file_->StillAt(path); }
  std::error_code Close() override {
    const std::error_code e = file_->Close();
    if (std::error_code fault = env_.CloseError()) return fault;
    return e;
  }

 private:
  FaultyEnv& env_;
  std::unique_ptr<IAppendFile> file_;
};

void FaultyEnv::FailReads(const std::string& path, ReadResult result) {
  std::lock_guard lock(mutex_);
  reads_[path] = std::move(result);
}

void FaultyEnv::FailWrites(const std::string& path) {
  std::lock_guard lock(mutex_);
  writes_.insert(path);
}

void FaultyEnv::FailOpenAppend(std::error_code error) {
  std::lock_guard lock(mutex_);
  open_append_ = error;
}

void FaultyEnv::FailAppend(int nth, std::error_code error) {
  std::lock_guard lock(mutex_);
  append_ = error;
  appends_before_failure_ = nth > 1 ? nth - 1 : 0;
}

void FaultyEnv::FailClose(std::error_code error) {
  std::lock_guard lock(mutex_);
  close_ = error;
}

void FaultyEnv::FailCreateFolders(std::error_code error) {
  std::lock_guard lock(mutex_);
  create_folders_ = error;
}

void FaultyEnv::Heal() {
  std::lock_guard lock(mutex_);
  reads_.clear();
  writes_.clear();
  open_append_.clear();
  create_folders_.clear();
  append_.clear();
  close_.clear();
  appends_before_failure_ = 0;
}

std::error_code FaultyEnv::NextAppend() {
  std::lock_guard lock(mutex_);
  if (!append_) return {};
  if (appends_before_failure_ > 0) {
    --appends_before_failure_;
    return {};
  }
  return append_;
}

std::error_code FaultyEnv::CloseError() {
  std::lock_guard lock(mutex_);
  return close_;
}

ReadResult FaultyEnv::ReadFile(const std::string& path, std::size_t max_bytes) {
  {
    std::lock_guard lock(mutex_);
    if (const auto it = reads_.find(path); it != reads_.end()) return it->second;
  }
  return EnvWrapper::ReadFile(path, max_bytes);
}

bool FaultyEnv::WriteFileAtomic(const std::string& path, std::string_view bytes) {
  {
    std::lock_guard lock(mutex_);
    if (writes_.count(path) != 0) return false;
  }
  return EnvWrapper::WriteFileAtomic(path, bytes);
}

std::error_code FaultyEnv::OpenAppend(const std::string& path,
                                      std::unique_ptr<IAppendFile>* file) {
  {
    std::lock_guard lock(mutex_);
    if (open_append_) return open_append_;
  }
  std::unique_ptr<IAppendFile> inner;
  if (std::error_code e = EnvWrapper::OpenAppend(path, &inner)) return e;
  *file = std::make_unique<AppendFile>(*this, std::move(inner));
  return {};
}

std::error_code FaultyEnv::CreateFolders(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    if (create_folders_) return create_folders_;
  }
  return EnvWrapper::CreateFolders(path);
}

}  // namespace orv::util
