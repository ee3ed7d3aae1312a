// Platform layer of the activity log: appending to a file and creating folders, with the
// system's own error texts. Paths are UTF-8.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "operator/activity_log.h"

namespace orv::op {

namespace {

std::string MensagemSistema(int err) { return std::system_category().message(err); }

std::filesystem::path CaminhoNativo(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

class StdLogFile final : public ILogFile {
 public:
  StdLogFile(std::FILE* f, std::string path) : f_(f), path_(std::move(path)) {}
  ~StdLogFile() override {
    if (f_) std::fclose(f_);
  }
  void Write(std::string_view bytes) override {
    errno = 0;
    const std::size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f_);
    if (n != bytes.size() || std::fflush(f_) != 0) {
      const int err = errno ? errno : EIO;
      throw LogIOError("Erro de E/S ao gravar o arquivo de log \"" + path_ + "\": " +
                       MensagemSistema(err));
    }
  }
  void Close() override {
    std::FILE* f = f_;
    f_ = nullptr;
    errno = 0;
    if (f && std::fclose(f) != 0) {
      const int err = errno ? errno : EIO;
      throw LogIOError("Erro de E/S ao fechar o arquivo de log \"" + path_ + "\": " +
                       MensagemSistema(err));
    }
  }

 private:
  std::FILE* f_;
  std::string path_;
};

class RealFs final : public ILogFileSystem {
 public:
  std::unique_ptr<ILogFile> OpenAppend(const std::string& path) override {
    errno = 0;
#ifdef _WIN32
    std::FILE* f = _wfopen(CaminhoNativo(path).c_str(), L"ab");
#else
    std::FILE* f = std::fopen(path.c_str(), "ab");
#endif
    if (!f) {
      const int err = errno ? errno : EIO;
      throw LogIOError("Erro de E/S ao abrir o arquivo de log \"" + path + "\": " +
                       MensagemSistema(err));
    }
    return std::make_unique<StdLogFile>(f, path);
  }
  void CreateFolders(const std::string& path) override {
    std::error_code ec;
    std::filesystem::create_directories(CaminhoNativo(path), ec);
    if (ec)
      throw LogIOError("Erro de E/S ao criar a pasta de logs \"" + path + "\": " + ec.message());
  }
};

}  // namespace

ILogFileSystem& RealLogFileSystem() {
  static RealFs fs;
  return fs;
}

}  // namespace orv::op
