#include "startup/arq_ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/log_reader.h"
#include "support/temp_folder.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"

namespace orv::startup {
namespace {

std::string LerArquivo(const std::filesystem::path& p) { return testing::ReadWholeFile(p); }

void GravarArquivo(const std::filesystem::path& p, const std::string& s) {
  std::ofstream(p, std::ios::binary) << s;
}

TEST(InteiroDoIni, ReadRules) {
  struct Caso { const char* texto; std::optional<std::int32_t> valor; };
  const Caso casos[] = {
      {"8080", 8080},        {" 8080 ", 8080},     {"0x1F90", 8080},     {"0X1f90", 8080},
      {"-5", -5},            {"+7", 7},            {"0", 0},             {"0x0", 0},
      {"2147483647", 2147483647},                  {"-2147483648", -2147483647 - 1},
      {"0xFFFFFFFF", -1},    {"2147483648", std::nullopt},               {"0x100000000", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt}, {"12a", std::nullopt}, {"0x", std::nullopt},
      {"0xG1", std::nullopt}, {"-", std::nullopt},  {"1 2", std::nullopt}, {"$1F", std::nullopt},
  };
  for (const Caso& c : casos) EXPECT_EQ(InteiroDoIni(c.texto), c.valor) << "'" << c.texto << "'";
}

TEST(TArqIni, MissingFileGivesDefaultsAndIsNotCreatedByReads) {
  testing::TempFolder dir;
  const auto caminho = dir.path() / "orvws.ini";
  TArqIni ini(caminho.string());
  EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 8080), 8080);
  EXPECT_FALSE(ini.ReadBool("Conf", "IniAut", false));
  EXPECT_EQ(ini.ReadValue("Conf", "NumPorta"), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(caminho));
}

TEST(TArqIni, FirstWriteCreatesTheFileAndValuesRoundTrip) {
  testing::TempFolder dir;
  const auto caminho = dir.path() / "orvws.ini";
  TArqIni ini(caminho.string());
  ini.WriteInteger("Conf", "NumPorta", 9090);
  ASSERT_TRUE(std::filesystem::exists(caminho));
  ini.WriteBool("Conf", "IniAut", true);
  ini.WriteInteger("Conf", "NumPorta", 8081);  // replaced in place, not added twice
#ifdef _WIN32
  EXPECT_EQ(LerArquivo(caminho), "[Conf]\r\nNumPorta=8081\r\nIniAut=1\r\n");
#else
  EXPECT_EQ(LerArquivo(caminho), "[Conf]\nNumPorta=8081\nIniAut=1\n");
#endif
  // A second object (as at the next start) reads what the first wrote.
  TArqIni outro(caminho.string());
  EXPECT_EQ(outro.ReadInteger("Conf", "NumPorta", 8080), 8081);
  EXPECT_TRUE(outro.ReadBool("Conf", "IniAut", false));
  outro.WriteBool("Conf", "IniAut", false);
  EXPECT_FALSE(ini.ReadBool("Conf", "IniAut", true));
}

TEST(TArqIni, ReadsByTheRulesWithoutRegardToCase) {
  testing::TempFolder dir;
  const auto caminho = dir.path() / "orvws.ini";
  struct Caso { const char* conteudo; std::int32_t porta; bool ini_aut; };
  const Caso casos[] = {
      {"[Conf]\nNumPorta=0x1F91\nIniAut=1\n", 8081, true},
      {"[conf]\r\n numporta = 12000 \r\ninIAUT=2\r\n", 12000, true},   // any non-zero is true
      {"[Conf]\nNumPorta=porta\nIniAut=sim\n", 8080, false},          // not numbers: defaults
      {"[Conf]\nNumPorta=\nIniAut=0\n", 8080, false},
      {"[Outra]\nNumPorta=1\nIniAut=1\n", 8080, false},                // other section
      {"NumPorta=1\n[Conf]\n;NumPorta=2\nIniAut=0x0\n", 8080, false},  // before any section, comment
      {"[Conf]\nNumPorta=1234\nNumPorta=4321\n", 1234, false},         // the first one counts
  };
  for (const Caso& c : casos) {
    GravarArquivo(caminho, c.conteudo);
    TArqIni ini(caminho.string());
    EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 8080), c.porta) << c.conteudo;
    EXPECT_EQ(ini.ReadBool("Conf", "IniAut", false), c.ini_aut) << c.conteudo;
  }
}

TEST(TArqIni, WritesKeepOtherLinesAndTheFilesLineEnds) {
  testing::TempFolder dir;
  const auto caminho = dir.path() / "orvws.ini";
  struct Caso { const char* antes; const char* depois; };
  const Caso casos[] = {
      // key replaced in place, comment and other section kept, CR LF kept
      {"; notas\r\n[conf]\r\nnumporta=1\r\nX=2\r\n\r\n[B]\r\nY=3\r\n",
       "; notas\r\n[conf]\r\nNumPorta=9999\r\nX=2\r\n\r\n[B]\r\nY=3\r\n"},
      // key added at the end of its section, before the blank line and the next section
      {"[Conf]\nIniAut=1\n\n[B]\nY=3\n", "[Conf]\nIniAut=1\nNumPorta=9999\n\n[B]\nY=3\n"},
      // section added at the end
      {"[B]\nY=3", "[B]\nY=3\n\n[Conf]\nNumPorta=9999\n"},
  };
  for (const Caso& c : casos) {
    GravarArquivo(caminho, c.antes);
    TArqIni(caminho.string()).WriteInteger("Conf", "NumPorta", 9999);
    EXPECT_EQ(LerArquivo(caminho), c.depois) << c.antes;
  }
}

TEST(TArqIni, AFileThatCannotBeWrittenRaisesUnableToWrite) {
  util::MemEnv mem;
  mem.CreateFolders("/pasta");
  util::FaultyEnv env(mem);
  TArqIni ini("/pasta/orvws.ini", env);
  env.FailWrites("/pasta/orvws.ini");
  try {
    ini.WriteInteger("Conf", "NumPorta", 80);
    FAIL() << "no error";
  } catch (const TArqIniError& e) {
    EXPECT_STREQ(e.what(), "Unable to write to /pasta/orvws.ini");
  }
  // A file that cannot be read is never written over, and reads as defaults.
  env.Heal();
  mem.PutFile("/pasta/orvws.ini", "[Conf]\nNumPorta=81\n");
  env.FailReads("/pasta/orvws.ini",
                util::ReadResult{util::ReadStatus::kCannotOpen, {},
                                 std::make_error_code(std::errc::permission_denied)});
  EXPECT_THROW(ini.WriteBool("Conf", "IniAut", true), TArqIniError);
  EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 8080), 8080);
  env.Heal();
  EXPECT_EQ(mem.FileBytes("/pasta/orvws.ini"), "[Conf]\nNumPorta=81\n");
}

TEST(TArqIni, AFolderThatDoesNotExistCannotBeWritten) {
  testing::TempFolder dir;
  const std::string caminho = (dir.path() / "nao-existe" / "orvws.ini").string();
  TArqIni ini(caminho);
  EXPECT_THROW(ini.WriteInteger("Conf", "NumPorta", 80), TArqIniError);
}

}  // namespace
}  // namespace orv::startup
