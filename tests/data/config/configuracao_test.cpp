#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "data/config/configuracao.h"
#include "data/config/packet_fixture.h"
#include "data/config/sconf.h"
#include "data/config/sconf_writer.h"
#include "util/regional.h"

namespace orv::data {
namespace {

namespace fs = std::filesystem;

const std::string kPrefix =
    "Incapaz de carregar as configurações do i-Orvalen. Mensagem de erro: \n\r";

// An installation folder <tmp>/.../Orvalen found through PATH, with the regional settings
// and PATH restored afterwards.
class LerConfiguracaoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_regional_ = util::Regional();
    util::SetRegional(util::RegionalPtBR());
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
    root_ = fs::temp_directory_path() /
            ("orv-config-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    folder_ = root_ / "Orvalen";
    fs::create_directories(folder_ / "bin");
    ::setenv("PATH", ("/usr/bin:" + (folder_ / "bin").string()).c_str(), 1);
  }
  void TearDown() override {
    SetLeitorArquivoConfigForTesting({});
    ::setenv("PATH", saved_path_.c_str(), 1);
    util::SetRegional(saved_regional_);
    fs::remove_all(root_);
  }
  std::string SconfPath() const { return (folder_ / "SCONF.xml").string(); }
  void WriteRaw(const std::string& bytes) const {
    std::ofstream(SconfPath(), std::ios::binary) << bytes;
  }
  // The message of the ConfigError that LerConfiguracao raises ("" when it succeeds).
  static std::string Error(const std::string& user = "", const std::string& password = "") {
    try {
      LerConfiguracao(user, password);
      return "";
    } catch (const ConfigError& e) {
      return e.what();
    }
  }

  util::RegionalSettings saved_regional_;
  std::string saved_path_;
  fs::path root_, folder_;
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
      GravarSconf(SconfPath(), c.file, utf8);
      const ConfigConexao got = LerConfiguracao(c.user, c.password);
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
  ::setenv("PATH", "/usr/bin:/bin", 1);
  EXPECT_EQ(Error(), kPrefix + "Não foi encontrado o caminho do Orvalen no PATH do sistema.");
  ::unsetenv("PATH");
  EXPECT_EQ(Error(), kPrefix + "Não foi encontrado o caminho do Orvalen no PATH do sistema.");
  ::setenv("PATH", (folder_ / "bin").string().c_str(), 1);

  EXPECT_EQ(Error(), kPrefix + "CdsSCONF: Missing data provider or data packet");

  fs::create_directory(SconfPath());   // exists, but cannot be read as a file
  EXPECT_EQ(Error(), kPrefix + "Cannot open file \"" + SconfPath() + "\". Is a directory");
  fs::remove(SconfPath());

  WriteRaw(testing::Packet(testing::Fields(), ""));
  const std::string empty_rowdata = Error();
  EXPECT_EQ(empty_rowdata, kPrefix + "'''' is not a valid integer value");
  EXPECT_EQ(empty_rowdata.substr(kPrefix.size(), 4), "''''");

  WriteRaw("<DATAPACKET Version='2.0'/>");
  EXPECT_EQ(Error(), kPrefix + "Mismatch in datapacket.");
}

TEST_F(LerConfiguracaoTest, FileSystemFaultsAreReportedWithTheSystemText) {
  struct Case {
    util::platform::ReadResult result;
    std::string cause;
  } cases[] = {
      {{util::platform::ReadStatus::kCannotOpen, {}, EACCES},
       "Cannot open file \"" + SconfPath() + "\". Permission denied"},
      {{util::platform::ReadStatus::kCannotOpen, {}, EBUSY},
       "Cannot open file \"" + SconfPath() + "\". Device or resource busy"},
      {{util::platform::ReadStatus::kTooLarge, {}, 0},
       "Cannot open file \"" + SconfPath() + "\". File too large"},
      {{util::platform::ReadStatus::kNotFound, {}, ENOENT},
       "CdsSCONF: Missing data provider or data packet"},
  };
  for (const auto& c : cases) {
    std::string asked;
    SetLeitorArquivoConfigForTesting([&](const std::string& path) {
      asked = path;
      return c.result;
    });
    EXPECT_EQ(Error(), kPrefix + c.cause);
    EXPECT_EQ(asked, SconfPath());
  }
}

TEST_F(LerConfiguracaoTest, RealFileLargerThanTheLimitIsRefused) {
  std::ofstream(SconfPath(), std::ios::binary)
      << std::string(kTamanhoMaximoConfig + 1, ' ');
  EXPECT_EQ(Error(), kPrefix + "Cannot open file \"" + SconfPath() + "\". File too large");
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

TEST_F(LerConfiguracaoTest, CommandLineTool) {
  const std::string tool = std::string(ORV_BINARY_DIR) + "/tools/sconf/orvws-sconf";
  if (!fs::exists(tool)) GTEST_SKIP() << "orvws-sconf not built";
  const std::string command = tool + " --out '" + SconfPath() +
                              "' --tipo 0 --servidor srv9 --gestao /g.fdb --online /o.fdb"
                              " --usuario u --senha s --utf8 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const ConfigConexao got = LerConfiguracao("", "");
  EXPECT_EQ(got.LocalGestao, "srv9:/g.fdb");
  EXPECT_EQ(got.LocalOnline, "srv9:/o.fdb");
  std::ifstream file(SconfPath(), std::ios::binary);
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
