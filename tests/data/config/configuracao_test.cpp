#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "data/config/configuracao.h"
#include "data/config/packet_fixture.h"
#include "data/config/sconf.h"
#include "data/config/sconf_writer.h"
#include "support/temp_folder.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"
#include "util/regional.h"

namespace orv::data {
namespace {

const std::string kPrefix =
    "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r";
const std::string kFolder = "/inst/Orvalen";

// An installation folder /inst/Orvalen found through PATH, in memory (reads may be made to fail),
// with the regional settings restored afterwards.
class LerConfiguracaoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_regional_ = util::Regional();
    util::SetRegional(util::RegionalPtBR());
    mem_.CreateFolders(kFolder + "/bin");
    mem_.SetEnvironmentVariable("PATH", "/usr/bin:" + kFolder + "/bin");
  }
  void TearDown() override { util::SetRegional(saved_regional_); }
  static std::string SconfPath() { return kFolder + "/SCONF.xml"; }
  void WriteRaw(const std::string& bytes) { mem_.PutFile(SconfPath(), bytes); }
  // The message of the ConfigError that LerConfiguracao raises ("" when it succeeds).
  std::string Error(const std::string& user = "", const std::string& password = "") {
    try {
      LerConfiguracao(user, password, env_);
      return "";
    } catch (const ConfigError& e) {
      return e.what();
    }
  }

  util::RegionalSettings saved_regional_;
  util::MemEnv mem_;
  util::FaultyEnv env_{mem_};
};

TEST_F(LerConfiguracaoTest, RoundTripThroughTheWriterForEveryDatabaseKind) {
  const std::string acao = "a\xC3\xA7\xC3\xA3o";   // "ação"
  struct Case {
    const char* what;
    SconfValores file;
    std::string user, password;
    ConfigConexao expected;
  } cases[] = {
      {"Firebird on this machine", {0, "LocalHost", "/d/g.fdb", "/d/o.fdb", "u", "p", "ora"},
       "", "", {0, "LocalHost", "/d/g.fdb", "/d/o.fdb", "", ""}},
      {"Firebird on a server", {0, "srv01", "/d/g.fdb", "/d/o.fdb", "", "", ""}, "SYSDBA", "pw",
       {0, "srv01", "srv01:/d/g.fdb", "srv01:/d/o.fdb", "SYSDBA", "pw"}},
      {"blank defeats localhost", {1, " localhost", "g", "o", "", "", ""}, "", "",
       {1, " localhost", " localhost:g", " localhost:o", "", ""}},
      {"kind 7 reads like Firebird", {7, "localhost", "g", "o", "", "", ""}, "", "",
       {7, "localhost", "g", "o", "", ""}},
      {"SQL Server, user from the file", {2, "sql01", "GESTAO", "o", "sa", acao, ""}, "", "",
       {2, "sql01", "GESTAO", "", "sa", acao}},
      {"SQL Server, user given", {2, "sql01", "GESTAO", "o", "sa", "x", ""}, "joe", "",
       {2, "sql01", "GESTAO", "", "joe", "x"}},
      {"SQL Server, empty user in the file", {2, "s", "G", "", "", "", ""}, "", "",
       {2, "s", "G", "", "", ""}},
      {"Oracle", {3, "ignored", "ignored", "ignored", "scott", "tiger", "ORCL"}, "", "",
       {3, "", "ORCL", "", "scott", "tiger"}},
      {"characters that need escapes",
       {0, "localhost", "C:\\Orv<&>\"'?\t\x03" "d", acao, "", "", ""}, "", "",
       {0, "localhost", "C:\\Orv<&>\"'?\t\x03" "d", acao, "", ""}},
  };
  for (const bool utf8 : {false, true}) {
    for (const auto& c : cases) {
      GravarSconf(SconfPath(), c.file, utf8, mem_);
      const ConfigConexao got = LerConfiguracao(c.user, c.password, env_);
      const std::string label = std::string(c.what) + (utf8 ? " (UTF-8)" : " (8-bit)");
      EXPECT_EQ(got.TipoBanco, c.expected.TipoBanco) << label;
      EXPECT_EQ(got.Servidor, c.expected.Servidor) << label;
      EXPECT_EQ(got.LocalGestao, c.expected.LocalGestao) << label;
      EXPECT_EQ(got.LocalOnline, c.expected.LocalOnline) << label;
      EXPECT_EQ(got.Usuario, c.expected.Usuario) << label;
      EXPECT_EQ(got.Senha, c.expected.Senha) << label;
    }
  }
}

TEST_F(LerConfiguracaoTest, FailuresCarryThePrefixAndTheCause) {
  mem_.SetEnvironmentVariable("PATH", "/usr/bin:/bin");
  EXPECT_EQ(Error(), kPrefix + "Não foi encontrado o caminho do Orvalen no PATH do sistema.");
  mem_.SetEnvironmentVariable("PATH", std::nullopt);
  EXPECT_EQ(Error(), kPrefix + "Não foi encontrado o caminho do Orvalen no PATH do sistema.");
  mem_.SetEnvironmentVariable("PATH", kFolder + "/bin");

  EXPECT_EQ(Error(), kPrefix + "CdsSCONF: Missing data provider or data packet");

  mem_.CreateFolders(SconfPath());   // exists, but cannot be read as a file
  EXPECT_EQ(Error(), kPrefix + "Cannot open file \"" + SconfPath() + "\". Is a directory");
  mem_.Remove(SconfPath());

  WriteRaw(testing::Packet(testing::Fields(), ""));
  const std::string empty_rowdata = Error();
  EXPECT_EQ(empty_rowdata, kPrefix + "'''' is not a valid integer value");
  EXPECT_EQ(empty_rowdata.substr(kPrefix.size(), 4), "''''");

  WriteRaw("<DATAPACKET Version='2.0'/>");
  EXPECT_EQ(Error(), kPrefix + "Mismatch in datapacket.");
}

// Each fault of the file system is reported in the system's words; the file read is
// SCONF.xml of the installation folder (a good one is there: only a fault on it shows).
TEST_F(LerConfiguracaoTest, FileSystemFaultsAreReportedWithTheSystemText) {
  GravarSconf(SconfPath(), {0, "localhost", "g", "o", "", "", ""}, true, mem_);
  ASSERT_EQ(Error(), "");
  const auto erro = [](std::errc e) { return std::make_error_code(e); };
  struct Case {
    util::ReadResult result;
    std::string cause;
  } cases[] = {
      {{util::ReadStatus::kCannotOpen, {}, erro(std::errc::permission_denied)},
       "Cannot open file \"" + SconfPath() + "\". Permission denied"},
      {{util::ReadStatus::kCannotOpen, {}, erro(std::errc::device_or_resource_busy)},
       "Cannot open file \"" + SconfPath() + "\". Device or resource busy"},
      {{util::ReadStatus::kTooLarge, {}, erro(std::errc::file_too_large)},
       "Cannot open file \"" + SconfPath() + "\". File too large"},
      {{util::ReadStatus::kNotFound, {}, erro(std::errc::no_such_file_or_directory)},
       "CdsSCONF: Missing data provider or data packet"},
  };
  for (const auto& c : cases) {
    env_.FailReads(SconfPath(), c.result);
    EXPECT_EQ(Error(), kPrefix + c.cause);
  }
}

TEST_F(LerConfiguracaoTest, FileLargerThanTheLimitIsRefused) {
  WriteRaw(std::string(kTamanhoMaximoConfig + 1, ' '));
  EXPECT_EQ(Error(), kPrefix + "Cannot open file \"" + SconfPath() + "\". File too large");
  WriteRaw(std::string(kTamanhoMaximoConfig, ' '));   // read, and refused for what it holds
  EXPECT_EQ(Error().find("File too large"), std::string::npos);
}

TEST_F(LerConfiguracaoTest, WriterRejectsWhatCannotBeStored) {
  SconfValores v{0, "localhost", "g", "o", "", "", ""};
  v.Senha = "\xE6\x97\xA5";   // above U+00FF: the scrambling would lose its high byte
  EXPECT_THROW(GerarSconf(v, true), std::invalid_argument);
  v.Senha = "\xC2\x83";       // U+0083 scrambles to U+0080, which WINDOWS-1252 lacks
  EXPECT_THROW(GerarSconf(v, false, "WINDOWS-1252"), std::invalid_argument);
  EXPECT_NO_THROW(GerarSconf(v, false, "ISO-8859-1"));
  v.Senha = "\xC2\xA7";       // § scrambles to ¤, which ISO-8859-15 lacks
  EXPECT_THROW(GerarSconf(v, false, "ISO-8859-15"), std::invalid_argument);
}

// The disk, with PATH naming one folder.
class DiscoComPath final : public util::EnvWrapper {
 public:
  explicit DiscoComPath(std::string path) : EnvWrapper(util::Env::Default()), path_(std::move(path)) {}
  std::optional<std::string> EnvironmentVariable(std::string_view name) override {
    return name == "PATH" ? std::optional<std::string>(path_) : EnvWrapper::EnvironmentVariable(name);
  }

 private:
  std::string path_;
};

TEST(OrvwsSconf, CommandLineTool) {
  const std::string tool = std::string(ORV_BINARY_DIR) + "/tools/sconf/orvws-sconf";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "orvws-sconf not built";
  orv::testing::TempFolder dir;
  const std::filesystem::path folder = dir.path() / "Orvalen";
  std::filesystem::create_directories(folder / "bin");
  const std::string sconf = (folder / "SCONF.xml").string();
  const std::string command = tool + " --out '" + sconf +
                              "' --tipo 0 --servidor srv9 --gestao /g.fdb --online /o.fdb"
                              " --usuario u --senha s --utf8 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  DiscoComPath disco("/usr/bin:" + (folder / "bin").string());
  const ConfigConexao got = LerConfiguracao("", "", disco);
  EXPECT_EQ(got.LocalGestao, "srv9:/g.fdb");
  EXPECT_EQ(got.LocalOnline, "srv9:/o.fdb");
  std::ifstream file(sconf, std::ios::binary);
  std::string head(55, '\0');
  file.read(head.data(), 55);
  EXPECT_EQ(head, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>");

  for (const char* bad : {"", "--tipo 0", "--out x", "--out x --tipo zero", "--out x --tipo",
                          "--out x --tipo 0 --what y"}) {
    const int status = std::system((tool + " " + bad + " 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
  }
}

}  // namespace
}  // namespace orv::data
