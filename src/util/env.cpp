// Env::Default(): the POSIX and Windows machine.
#include "util/env.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "util/platform.h"
#include "util/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orv::util {

namespace {

using platform::PathFromUtf8;

#ifdef _WIN32
std::string Narrow(const wchar_t* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}
#endif

// An error number of the C library as the system words it.
std::error_code CError(int err) { return {err != 0 ? err : EIO, std::system_category()}; }

// What tells one file from another: the device and the inode on POSIX, the volume and the file
// index on Windows. A file's number is not given to another file while it is open, so a file
// at a path with the identity of an open file is that file.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // Linux: the mount it is reached through, so that a mount put over its folder (a read-only
  // one, say) is seen as another place even when it shows the same file.
  std::uint64_t mount = 0;
  bool operator==(const FileId&) const = default;
};

#ifdef _WIN32
std::optional<FileId> IdOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}
std::optional<FileId> IdOfOpen(std::FILE* f) {
  return IdOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))));
}
std::optional<FileId> IdAt(const std::string& path) {
  // Only the attributes are read, sharing everything, so no writer or mover is in the way.
  const HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileId> id = IdOf(h);
  CloseHandle(h);
  return id;
}
#elif defined(__linux__) && defined(STATX_MNT_ID)
std::optional<FileId> IdOf(int dirfd, const char* path, int flags) {
  struct statx st {};
  if (::statx(dirfd, path, flags, STATX_INO | STATX_MNT_ID, &st) != 0) return std::nullopt;
  return FileId{(std::uint64_t{st.stx_dev_major} << 32) | st.stx_dev_minor, st.stx_ino,
                (st.stx_mask & STATX_MNT_ID) ? st.stx_mnt_id : 0};
}
std::optional<FileId> IdOfOpen(std::FILE* f) { return IdOf(::fileno(f), "", AT_EMPTY_PATH); }
std::optional<FileId> IdAt(const std::string& path) { return IdOf(AT_FDCWD, path.c_str(), 0); }
#else
FileId IdOf(const struct stat& st) {
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}
std::optional<FileId> IdOfOpen(std::FILE* f) {
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return std::nullopt;
  return IdOf(st);
}
std::optional<FileId> IdAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdOf(st);
}
#endif

class StdAppendFile final : public IAppendFile {
 public:
  // The identity is taken once: it does not change while the file is open.
  explicit StdAppendFile(std::FILE* f) : f_(f), id_(IdOfOpen(f)) {}
  ~StdAppendFile() override {
    if (f_) std::fclose(f_);
  }
  std::error_code Append(std::string_view bytes) override {
    errno = 0;
    const std::size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f_);
    if (n != bytes.size() || std::fflush(f_) != 0) return CError(errno);
    return {};
  }
  bool StillAt(const std::string& path) override {
    if (!f_ || !id_) return false;
    const std::optional<FileId> at = IdAt(path);
    return at && *at == *id_;
  }
  std::error_code Close() override {
    std::FILE* f = f_;
    f_ = nullptr;
    errno = 0;
    if (f && std::fclose(f) != 0) return CError(errno);
    return {};
  }

 private:
  std::FILE* f_;
  const std::optional<FileId> id_;   // nothing when it could not be learnt: never StillAt
};

class RealEnv final : public Env {
 public:
  ReadResult ReadFile(const std::string& path, std::size_t max_bytes) override;
  bool WriteFileAtomic(const std::string& path, std::string_view bytes) override;

  std::error_code OpenAppend(const std::string& path,
                             std::unique_ptr<IAppendFile>* file) override {
    errno = 0;
#ifdef _WIN32
    // Opened sharing deletion too, so that an operator can still move or delete a file kept
    // open (as on POSIX).
    const HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    if (fd < 0) {
      CloseHandle(h);
      return CError(errno);
    }
    std::FILE* f = _fdopen(fd, "ab");
    if (!f) {
      _close(fd);
      return CError(errno);
    }
#else
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return CError(errno);
#endif
    *file = std::make_unique<StdAppendFile>(f);
    return {};
  }

  std::error_code CreateFolders(const std::string& path) override {
    std::error_code ec;
    std::filesystem::create_directories(PathFromUtf8(path), ec);
    return ec;
  }

  PathKind KindOf(const std::string& path) override {
    std::error_code ec;
    const auto status = std::filesystem::status(PathFromUtf8(path), ec);
    if (!std::filesystem::exists(status)) return PathKind::kMissing;
    return std::filesystem::is_directory(status) ? PathKind::kFolder : PathKind::kFile;
  }

  std::error_code WriteAccess(const std::string& path, bool folder) override {
#ifdef _WIN32
    (void)folder;
    const int modo = 2;   // write; folders are searchable when readable
    if (_waccess(PathFromUtf8(path).c_str(), modo) != 0) return {errno, std::generic_category()};
#else
    if (::access(path.c_str(), folder ? (W_OK | X_OK) : W_OK) != 0)
      return {errno, std::generic_category()};
#endif
    return {};
  }

  TDateTime Now() override {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    const std::tm t = platform::LocalTime(seconds);
    DateTimeParts p;
    p.year = t.tm_year + 1900;
    p.month = t.tm_mon + 1;
    p.day = t.tm_mday;
    p.hour = t.tm_hour;
    p.minute = t.tm_min;
    p.second = t.tm_sec > 59 ? 59 : t.tm_sec;   // a leap second shows as :59
    p.millisecond = static_cast<int>(((ms.count() % 1000) + 1000) % 1000);
    return EncodeDateTime(p);
  }

  std::string ExecutablePath() override;
  std::optional<std::string> EnvironmentVariable(std::string_view name) override;

 private:
  // Writes `bytes` into a new file `novo` (a plain file of that name is written over; a link or
  // a folder is not), with the permissions of `destino` when that exists, and hands it to the
  // disk before returning. `aberto`: whether `novo` was opened for writing.
  static bool WriteWhole(const std::filesystem::path& novo, const std::filesystem::path& destino,
                         std::string_view bytes, bool& aberto);
  // The rename itself reaches the disk (POSIX; Windows needs nothing here).
  static void SyncFolder(const std::filesystem::path& pasta);
};

bool RealEnv::WriteFileAtomic(const std::string& path, std::string_view bytes) {
  std::error_code ec;
  std::filesystem::path destino = PathFromUtf8(path);
  // A link keeps pointing where it did: the file it names is the one replaced.
  if (std::filesystem::is_symlink(destino, ec)) {
    destino = std::filesystem::canonical(destino, ec);
    if (ec) return false;
  }
  std::filesystem::path novo = destino;
  novo += std::string(kNewFileSuffix);
  bool aberto = false;   // only a new file this write opened is removed on failure
  if (!WriteWhole(novo, destino, bytes, aberto)) {
    if (aberto) std::filesystem::remove(novo, ec);
    return false;
  }
  std::filesystem::rename(novo, destino, ec);
  if (ec) {
    std::filesystem::remove(novo, ec);
    return false;
  }
  SyncFolder(destino.parent_path());
  return true;
}

bool RealEnv::WriteWhole(const std::filesystem::path& novo, const std::filesystem::path& destino,
                         std::string_view bytes, bool& aberto) {
#ifdef _WIN32
  (void)destino;
  std::error_code ec;
  if (std::filesystem::exists(novo, ec) && !std::filesystem::is_regular_file(novo, ec)) return false;
  std::ofstream out(novo, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  aberto = true;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  return static_cast<bool>(out);
#else
  struct stat antigo {};
  const bool existe = ::stat(destino.c_str(), &antigo) == 0;
  const mode_t modo = existe ? (antigo.st_mode & 07777) : 0666;
  const int fd = ::open(novo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, modo);
  if (fd < 0) return false;
  aberto = true;
  bool ok = !existe || ::fchmod(fd, modo) == 0;
  std::size_t feito = 0;
  while (ok && feito < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + feito, bytes.size() - feito);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else feito += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
#endif
}

void RealEnv::SyncFolder(const std::filesystem::path& pasta) {
#ifndef _WIN32
  const int fd = ::open(pasta.empty() ? "." : pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)pasta;
#endif
}

#ifdef _WIN32

ReadResult RealEnv::ReadFile(const std::string& path, std::size_t max_bytes) {
  ReadResult r;
  FILE* f = _wfsopen(PathFromUtf8(path).c_str(), L"rb", _SH_DENYWR);
  if (f == nullptr) {
    const DWORD err = GetLastError();
    r.status = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? ReadStatus::kNotFound
                                                                            : ReadStatus::kCannotOpen;
    r.error = std::error_code(static_cast<int>(err), std::system_category());
    return r;
  }
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (r.bytes.size() + n > max_bytes) {
      r.bytes.append(buffer, max_bytes - r.bytes.size());
      r.status = ReadStatus::kTooLarge;
      r.error = std::make_error_code(std::errc::file_too_large);
      break;
    }
    r.bytes.append(buffer, n);
  }
  const bool failed = r.status == ReadStatus::kOk && std::ferror(f) != 0;
  std::fclose(f);
  if (failed)
    return ReadResult{ReadStatus::kCannotOpen, {},
                      std::error_code(static_cast<int>(ERROR_READ_FAULT), std::system_category())};
  return r;
}

std::string RealEnv::ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Narrow(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> RealEnv::EnvironmentVariable(std::string_view name) {
  const std::wstring wname = PathFromUtf8(name).wstring();
  const DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(wname.c_str(), value.data(), n);
  return Narrow(value.data(), got);
}

#else  // POSIX

ReadResult RealEnv::ReadFile(const std::string& path, std::size_t max_bytes) {
  ReadResult r;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    r.error = std::error_code(err, std::generic_category());
    r.status = (err == ENOENT || err == ENOTDIR) ? ReadStatus::kNotFound : ReadStatus::kCannotOpen;
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    r.error = std::error_code(S_ISDIR(st.st_mode) ? EISDIR : errno, std::generic_category());
    r.status = ReadStatus::kCannotOpen;
    ::close(fd);
    return r;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      r = ReadResult{ReadStatus::kCannotOpen, {}, std::error_code(errno, std::generic_category())};
      break;
    }
    if (r.bytes.size() + static_cast<std::size_t>(n) > max_bytes) {
      r.bytes.append(buffer, max_bytes - r.bytes.size());
      r.status = ReadStatus::kTooLarge;
      r.error = std::make_error_code(std::errc::file_too_large);
      break;
    }
    r.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return r;
}

std::string RealEnv::ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> RealEnv::EnvironmentVariable(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

#endif

}  // namespace

Env& Env::Default() {
  // Never destroyed: threads still running while the process ends may use it.
  static Env* const env = new RealEnv;
  return *env;
}

}  // namespace orv::util
