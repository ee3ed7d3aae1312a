// A fresh temporary folder for one test, removed with everything in it at the end. Every test
// program's temporary files go in one of these.
//
// Thread safety: one object per test; making them from several threads at once is fine.
#pragma once

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace orv::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "orvws-test") {
    static std::atomic<unsigned> n{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(rd()) + "-" + std::to_string(n++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace orv::testing
