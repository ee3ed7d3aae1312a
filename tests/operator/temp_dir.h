// A fresh temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace orv::testing {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "orv_test") {
    static std::atomic<unsigned> n{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "_" + std::to_string(rd()) + "_" + std::to_string(n++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace orv::testing
