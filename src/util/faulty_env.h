// FaultyEnv: another Env whose chosen calls fail, for the paths a real machine takes rarely: a
// disk that fills up, a folder made read-only, a file that cannot be read. Every call not made
// to fail goes to the wrapped Env.
//
// Thread safety: any thread; the faults are set under a lock and seen by the next call.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "util/env.h"

namespace orv::util {

class FaultyEnv final : public EnvWrapper {
 public:
  explicit FaultyEnv(Env& target) : EnvWrapper(target) {}

  // Reads of `path` give `result` without reaching the wrapped Env.
  void FailReads(const std::string& path, ReadResult result);
  // Atomic writes of `path` fail; the file stays as it was.
  void FailWrites(const std::string& path);
  // Every open for appending fails with `error`.
  void FailOpenAppend(std::error_code error);
  // The nth Append from now on (1: the next one) fails with `error`, and so does every Append
  // after it (a full disk stays full). The bytes of a failed Append are not written.
  void FailAppend(int nth, std::error_code error);
  // Every Close of a file opened for appending fails with `error`; the file is closed all the
  // same, with what was appended to it.
  void FailClose(std::error_code error);
  // Every folder creation fails with `error`.
  void FailCreateFolders(std::error_code error);
  // No call fails any more.
  void Heal();

  ReadResult ReadFile(const std::string& path, std::size_t max_bytes) override;
  bool WriteFileAtomic(const std::string& path, std::string_view bytes) override;
  std::error_code OpenAppend(const std::string& path, std::unique_ptr<IAppendFile>* file) override;
  std::error_code CreateFolders(const std::string& path) override;

 private:
  class AppendFile;
  // The error of the next Append, counting it.
  std::error_code NextAppend();
  std::error_code CloseError();

  std::mutex mutex_;
  std::map<std::string, ReadResult> reads_;
  std::set<std::string> writes_;
  std::error_code open_append_;
  std::error_code create_folders_;
  std::error_code append_;
  std::error_code close_;
  int appends_before_failure_ = 0;
};

}  // namespace orv::util
