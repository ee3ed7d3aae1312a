// The machine behind Env: the same steps on the real file system and on MemEnv give the same
// outcomes; FaultyEnv fails what it is told to and nothing else; the real rewrite is atomic; the
// clock, the executable's path and the environment variables.
#include "util/env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "support/temp_folder.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"

namespace orv::util {
namespace {

// A call's outcome as text: "ok", the bytes read, or the status and the system's words.
std::string Texto(const ReadResult& r) {
  switch (r.status) {
    case ReadStatus::kOk: return "'" + r.bytes + "'";
    case ReadStatus::kNotFound: return "not found: " + r.error.message();
    case ReadStatus::kCannotOpen: return "cannot open: " + r.error.message();
    case ReadStatus::kTooLarge: return "too large: '" + r.bytes + "'";
  }
  return "?";
}
std::string Texto(std::error_code e) { return e ? e.message() : "ok"; }
std::string Texto(PathKind k) {
  return k == PathKind::kFile ? "file" : k == PathKind::kFolder ? "folder" : "missing";
}

std::string Anexar(Env& env, const std::string& path, std::initializer_list<std::string_view> partes) {
  std::unique_ptr<IAppendFile> f;
  if (std::error_code e = env.OpenAppend(path, &f)) return e.message();
  for (std::string_view p : partes)
    if (std::error_code e = f->Append(p)) return e.message();
  return Texto(f->Close());
}

// The outcomes in order (the items of a braced list are evaluated left to right).
std::string Juntar(std::initializer_list<std::string> partes, const char* entre = "") {
  std::string r;
  for (const std::string& p : partes) r += (&p == partes.begin() ? "" : entre) + p;
  return r;
}

// Moves or deletes a file as an operator would, behind the Env's back.
void Mover(Env& e, const std::string& de, const std::string& para) {
  if (auto* mem = dynamic_cast<MemEnv*>(&e))
    mem->Rename(de, para);
  else
    std::filesystem::rename(de, para);
}
void Apagar(Env& e, const std::string& path) {
  if (auto* mem = dynamic_cast<MemEnv*>(&e))
    mem->Remove(path);
  else
    std::filesystem::remove(path);
}

struct Passo {
  const char* nome;
  std::function<std::string(Env&, const std::string& raiz)> fazer;
  std::string esperado;
};

// Each step runs after the ones before it, in a root folder that starts empty.
const Passo kPassos[] = {
    {"read a missing file", [](Env& e, const std::string& r) { return Texto(e.ReadFile(r + "/a", 9)); },
     "not found: No such file or directory"},
    {"append where the folder is missing",
     [](Env& e, const std::string& r) { return Anexar(e, r + "/logs/d.log", {"x"}); },
     "No such file or directory"},
    {"make folders with their parents",
     [](Env& e, const std::string& r) { return Texto(e.CreateFolders(r + "/logs/x/y")); }, "ok"},
    {"a folder made again", [](Env& e, const std::string& r) { return Texto(e.CreateFolders(r + "/logs")); },
     "ok"},
    {"append creates, then adds",
     [](Env& e, const std::string& r) {
       return Juntar({Anexar(e, r + "/logs/d.log", {"ab", "cd"}), Anexar(e, r + "/logs/d.log", {"", "e"}),
                      Texto(e.ReadFile(r + "/logs/d.log", 9))}, " ");
     },
     "ok ok 'abcde'"},
    {"a file past the limit",
     [](Env& e, const std::string& r) { return Texto(e.ReadFile(r + "/logs/d.log", 3)); },
     "too large: 'abc'"},
    {"exactly the limit", [](Env& e, const std::string& r) { return Texto(e.ReadFile(r + "/logs/d.log", 5)); },
     "'abcde'"},
    {"read a folder", [](Env& e, const std::string& r) { return Texto(e.ReadFile(r + "/logs", 9)); },
     "cannot open: Is a directory"},
    {"append to a folder", [](Env& e, const std::string& r) { return Anexar(e, r + "/logs", {"x"}); },
     "Is a directory"},
    {"atomic write, twice",
     [](Env& e, const std::string& r) {
       return Juntar({std::to_string(e.WriteFileAtomic(r + "/c.ini", "x=1")),
                      std::to_string(e.WriteFileAtomic(r + "/c.ini", "x=2")), Texto(e.ReadFile(r + "/c.ini", 9)),
                      Texto(e.KindOf(r + "/c.ini" + std::string(kNewFileSuffix)))}, " ");
     },
     "1 1 'x=2' missing"},
    {"atomic write without its folder, over a folder",
     [](Env& e, const std::string& r) {
       return Juntar({std::to_string(e.WriteFileAtomic(r + "/no/c.ini", "x")),
                      std::to_string(e.WriteFileAtomic(r + "/logs", "x")), Texto(e.KindOf(r + "/no"))}, " ");
     },
     "0 0 missing"},
    {"a file in the way of a folder",
     [](Env& e, const std::string& r) {
       return Juntar({Texto(e.CreateFolders(r + "/c.ini/sub")), Anexar(e, r + "/c.ini/d.log", {"x"}),
                      Texto(e.ReadFile(r + "/c.ini/d", 9))}, "|");
     },
     "Not a directory|Not a directory|not found: Not a directory"},
    {"what paths name",
     [](Env& e, const std::string& r) {
       return Juntar({Texto(e.KindOf(r + "/logs")), Texto(e.KindOf(r + "/logs/d.log")),
                      Texto(e.KindOf(r + "/none")), Texto(e.WriteAccess(r + "/logs", true)),
                      Texto(e.WriteAccess(r + "/c.ini", false))}, " ");
     },
     "folder file missing ok ok"},
    // A file kept open is the file, not its name: moved, it takes what is appended where it
    // now is; a new file at its path, or its deletion, is seen.
    {"a file kept open knows whether its path still names it",
     [](Env& e, const std::string& r) {
       const std::string p = r + "/k.log", velho = r + "/k.old";
       std::unique_ptr<IAppendFile> f;
       if (std::error_code err = e.OpenAppend(p, &f)) return err.message();
       auto em = [&f](const std::string& q) { return std::to_string(f->StillAt(q)); };
       std::string s = Juntar({em(p), em(r + "/logs"), em(r + "/none")});
       Mover(e, p, velho);
       s += " " + Juntar({em(p), em(velho), Texto(f->Append("1")), Texto(e.ReadFile(velho, 9)),
                          Anexar(e, p, {"2"}), em(p)}, " ");
       Apagar(e, velho);
       return s + " " + Juntar({em(velho), Texto(f->Append("3")), Texto(f->Close()), em(p),
                                Texto(e.ReadFile(p, 9))}, " ");
     },
     "100 0 1 ok '1' ok 0 0 ok ok 0 '2'"},
};

TEST(Env, TheDiskAndMemEnvGiveTheSameOutcomes) {
  testing::TempFolder dir;
  MemEnv mem;
  ASSERT_FALSE(mem.CreateFolders(dir.str()));
  for (Env* env : {&Env::Default(), static_cast<Env*>(&mem)}) {
    const std::string raiz = dir.str() + (env == &mem ? "/mem" : "/disk");
    ASSERT_FALSE(env->CreateFolders(raiz));
    for (const Passo& p : kPassos)
      EXPECT_EQ(p.fazer(*env, raiz), p.esperado) << p.nome << (env == &mem ? " (MemEnv)" : " (disk)");
  }
}

// Each fault, with the call it breaks: what the call gives with the fault and after Heal.
TEST(FaultyEnv, FailsWhatItIsToldToUntilHealed) {
  const std::error_code negado = std::make_error_code(std::errc::permission_denied);
  const std::error_code cheio = std::make_error_code(std::errc::no_space_on_device);
  struct Caso {
    const char* nome;
    std::function<void(FaultyEnv&)> falha;
    std::function<std::string(Env&)> chamar;
    std::string com_falha, curado;
  };
  const Caso casos[] = {
      {"read",
       [&](FaultyEnv& f) { f.FailReads("/p/a.ini", ReadResult{ReadStatus::kCannotOpen, {}, negado}); },
       [](Env& e) { return Juntar({Texto(e.ReadFile("/p/a.ini", 9)), Texto(e.ReadFile("/p/b.ini", 9))}, " "); },
       "cannot open: Permission denied 'b'", "'a' 'b'"},
      {"atomic write", [](FaultyEnv& f) { f.FailWrites("/p/a.ini"); },
       [](Env& e) {
         return Juntar({std::to_string(e.WriteFileAtomic("/p/a.ini", "n")), Texto(e.ReadFile("/p/a.ini", 9)),
                        std::to_string(e.WriteFileAtomic("/p/b.ini", "n"))}, " ");
       },
       "0 'a' 1", "1 'n' 1"},
      {"open for appending", [&](FaultyEnv& f) { f.FailOpenAppend(negado); },
       [](Env& e) { return Anexar(e, "/p/a.ini", {"+"}); }, "Permission denied", "ok"},
      {"the second append and after", [&](FaultyEnv& f) { f.FailAppend(2, cheio); },
       [](Env& e) {
         return Juntar({Anexar(e, "/p/a.ini", {"1", "2"}), Anexar(e, "/p/a.ini", {"3"}),
                        Texto(e.ReadFile("/p/a.ini", 9))}, "|");
       },
       "No space left on device|No space left on device|'a1'", "ok|ok|'a123'"},
      {"close", [&](FaultyEnv& f) { f.FailClose(negado); },
       [](Env& e) { return Juntar({Anexar(e, "/p/a.ini", {"+"}), Texto(e.ReadFile("/p/a.ini", 9))}, " "); },
       "Permission denied 'a+'", "ok 'a+'"},
      {"folder creation", [&](FaultyEnv& f) { f.FailCreateFolders(negado); },
       [](Env& e) { return Juntar({Texto(e.CreateFolders("/p/q")), Texto(e.KindOf("/p/q"))}, " "); },
       "Permission denied missing", "ok folder"},
  };
  for (const Caso& c : casos) {
    MemEnv mem;
    mem.PutFile("/p/a.ini", "a");
    mem.PutFile("/p/b.ini", "b");
    FaultyEnv faulty(mem);
    c.falha(faulty);
    EXPECT_EQ(c.chamar(faulty), c.com_falha) << c.nome;
    mem.PutFile("/p/a.ini", "a");
    mem.Remove("/p/q");
    faulty.Heal();
    EXPECT_EQ(c.chamar(faulty), c.curado) << c.nome << " (healed)";
  }
}

TEST(MemEnv, ClockVariablesAndExecutableAreTheTestsToSet) {
  MemEnv mem;
  EXPECT_EQ(mem.Now(), EncodeDateTime({2000, 1, 1}));
  mem.SetNow(100.25);
  mem.AdvanceMs(43200000);
  EXPECT_DOUBLE_EQ(mem.Now(), 100.75);
  EXPECT_EQ(mem.ExecutablePath(), "");
  mem.SetExecutablePath("/opt/orvws/OrvWs");
  EXPECT_EQ(mem.ExecutablePath(), "/opt/orvws/OrvWs");
  EXPECT_EQ(mem.EnvironmentVariable("PATH"), std::nullopt);
  mem.SetEnvironmentVariable("PATH", "");
  EXPECT_EQ(mem.EnvironmentVariable("PATH"), "");
  mem.SetEnvironmentVariable("PATH", std::nullopt);
  EXPECT_EQ(mem.EnvironmentVariable("PATH"), std::nullopt);
}

TEST(DefaultEnv, ClockExecutableAndEnvironment) {
  Env& env = Env::Default();
  const TDateTime now = env.Now();
  EXPECT_GT(now, EncodeDateTime({2024, 1, 1}));
  EXPECT_LT(now, EncodeDateTime({2200, 1, 1}));
  EXPECT_TRUE(std::isfinite(now));
  EXPECT_EQ(std::filesystem::path(env.ExecutablePath()).filename(), "test_util");

  ::setenv("ORV_TEST_VAR", "C:\\Orvalen;x", 1);
  EXPECT_EQ(env.EnvironmentVariable("ORV_TEST_VAR"), "C:\\Orvalen;x");
  ::setenv("ORV_TEST_VAR", "", 1);
  EXPECT_EQ(env.EnvironmentVariable("ORV_TEST_VAR"), "");
  ::unsetenv("ORV_TEST_VAR");
  EXPECT_FALSE(env.EnvironmentVariable("ORV_TEST_VAR").has_value());
}

std::string Ler(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

#ifndef _WIN32
// A write that fails midway (here the file-size limit, as a full disk would) keeps the old
// file whole and leaves no new file beside it; a later write replaces it, keeping its
// permissions, and a link to it stays a link.
TEST(DefaultEnv, RewriteIsAtomic) {
  testing::TempFolder dir;
  const auto ini = dir.path() / "orvws.ini";
  const auto novo = dir.path() / ("orvws.ini" + std::string(kNewFileSuffix));
  Env& env = Env::Default();
  const std::string antigo = "[Conf]\nNumPorta=8081\nIniAut=1\n";
  ASSERT_TRUE(env.WriteFileAtomic(ini.string(), antigo));
  chmod(ini.c_str(), 0640);

  {
    struct sigaction ignorar {}, anterior {};
    ignorar.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignorar, &anterior);
    rlimit limite{}, salvo{};
    getrlimit(RLIMIT_FSIZE, &salvo);
    limite = salvo;
    limite.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &limite);
    const bool gravou = env.WriteFileAtomic(ini.string(), std::string(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &salvo);
    sigaction(SIGXFSZ, &anterior, nullptr);
    EXPECT_FALSE(gravou);
  }
  EXPECT_EQ(Ler(ini), antigo);
  EXPECT_FALSE(std::filesystem::exists(novo));

  ASSERT_TRUE(env.WriteFileAtomic(ini.string(), "[Conf]\nNumPorta=9000\n"));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9000\n");
  struct stat st {};
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(std::filesystem::exists(novo));

  const auto link = dir.path() / "ligacao.ini";
  std::filesystem::create_symlink(ini, link);
  ASSERT_TRUE(env.WriteFileAtomic(link.string(), "[Conf]\nNumPorta=9001\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9001\n");

  // A folder where the file should be: nothing is written and nothing is left beside it.
  const auto pasta = dir.path() / "pasta.ini";
  std::filesystem::create_directory(pasta);
  EXPECT_FALSE(env.WriteFileAtomic(pasta.string(), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(pasta));
  EXPECT_FALSE(std::filesystem::exists(pasta.string() + std::string(kNewFileSuffix)));

  // Something not ours under the new file's name (a folder, a link) is left alone, and the
  // old file stays.
  std::filesystem::create_directory(novo);
  EXPECT_FALSE(env.WriteFileAtomic(ini.string(), "[Conf]\nNumPorta=1\n"));
  EXPECT_TRUE(std::filesystem::is_directory(novo));
  std::filesystem::remove(novo);
  const auto alvo = dir.path() / "alvo";
  std::filesystem::create_symlink(alvo, novo);
  EXPECT_FALSE(env.WriteFileAtomic(ini.string(), "[Conf]\nNumPorta=1\n"));
  EXPECT_FALSE(std::filesystem::exists(alvo));
  EXPECT_TRUE(std::filesystem::is_symlink(novo));
  EXPECT_EQ(Ler(ini), "[Conf]\nNumPorta=9001\n");
}
#endif

}  // namespace
}  // namespace orv::util
