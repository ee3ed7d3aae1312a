// The INI rules, read the settings file's way and the port file's way from one table of texts;
// the number rules; TArqIni on the disk and in memory.
#include "util/ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "support/log_reader.h"
#include "support/temp_folder.h"
#include "util/faulty_env.h"
#include "util/mem_env.h"

namespace orv::util {
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

// Each text read both ways: the settings file takes the first key among every section of the
// name (IniValue), the port file the entries of the first such section (IniSection).
TEST(Ini, OneTextTwoReadings) {
  using Entradas = std::optional<std::vector<std::string>>;   // "key=value"
  struct Caso {
    const char* texto;
    const char* secao;
    const char* chave;
    std::optional<std::string> valor;
    Entradas entradas;
  };
  const Caso casos[] = {
      {"[Conf]\nNumPorta=0x1F91\nIniAut=1\n", "Conf", "NumPorta", "0x1F91",
       Entradas{{"NumPorta=0x1F91", "IniAut=1"}}},
      // names without regard to case, blanks and CR LF around them
      {"[conf]\r\n numporta = 12000 \r\ninIAUT=2\r\n", "Conf", "NumPorta", "12000",
       Entradas{{"numporta=12000", "inIAUT=2"}}},
      {"[Conf]\nNumPorta=\nIniAut=0\n", "Conf", "NumPorta", "", Entradas{{"NumPorta=", "IniAut=0"}}},
      {"[Outra]\nNumPorta=1\nIniAut=1\n", "Conf", "NumPorta", std::nullopt, std::nullopt},
      // before any section; a comment
      {"NumPorta=1\n[Conf]\n;NumPorta=2\nIniAut=0x0\n", "Conf", "NumPorta", std::nullopt,
       Entradas{{"IniAut=0x0"}}},
      {"[Conf]\nNumPorta=1234\nNumPorta=4321\n", "Conf", "NumPorta", "1234",
       Entradas{{"NumPorta=1234", "NumPorta=4321"}}},
      {"[IOrvWs]\nP1=http://a\nP2=http://b\n", "IOrvWs", "P1", "http://a",
       Entradas{{"P1=http://a", "P2=http://b"}}},
      // a byte order mark; blanks inside the line
      {"\xEF\xBB\xBF[iorvws]\r\n  P1 = http://a  \r\n", "IOrvWs", "P1", "http://a",
       Entradas{{"P1=http://a"}}},
      // lines that are no entry; the first '=' splits; the section ends at the next one
      {"[IOrvWs]\n;P0=x\n\nno equals sign\nP1=http://a=b\n[Next]\nP9=z", "IOrvWs", "P9",
       std::nullopt, Entradas{{"P1=http://a=b"}}},
      {"[IOrvWs]\n", "IOrvWs", "P1", std::nullopt, Entradas{std::vector<std::string>{}}},
      {"", "IOrvWs", "P1", std::nullopt, std::nullopt},
      // sections of the same name: every one for the settings file, the first for the port file
      {"[Conf]\nA=1\n[Outra]\nNumPorta=2\n[conf]\nNumPorta=3\n", "Conf", "NumPorta", "3",
       Entradas{{"A=1"}}},
      {"[Conf]\n#NumPorta=1\n# x = y\nNumPorta=2\n", "Conf", "NumPorta", "2",
       Entradas{{"NumPorta=2"}}},
      // '[' without ']' starts nothing and holds nothing
      {"[Conf]\n[Outra\n[N=1\nNumPorta=5\n", "Conf", "NumPorta", "5", Entradas{{"NumPorta=5"}}},
      {"[Conf] ; notas\n\r NumPorta =\t7\r\r\n", "Conf", "NumPorta", "7", Entradas{{"NumPorta=7"}}},
  };
  for (const Caso& c : casos) {
    const IniText ini = ParseIni(c.texto);
    EXPECT_EQ(IniValue(ini, c.secao, c.chave), c.valor) << c.texto;
    Entradas got;
    if (const auto e = IniSection(ini, c.secao)) {
      got.emplace();
      for (const auto& [chave, valor] : *e) got->push_back(chave + "=" + valor);
    }
    EXPECT_EQ(got, c.entradas) << c.texto;
  }
}

// The read rules of TArqIni on top of the lookup: numbers, booleans, defaults.
TEST(TArqIni, ReadsNumbersAndBooleansByTheRules) {
  MemEnv mem;
  mem.PutFile("/p/orvws.ini", "[conf]\nHex=0x1F91\nDois=2\nTexto=sim\nVazio=\nZero=0\n");
  TArqIni ini("/p/orvws.ini", mem);
  EXPECT_EQ(ini.ReadInteger("Conf", "Hex", 8080), 8081);
  EXPECT_TRUE(ini.ReadBool("Conf", "Dois", false));   // any non-zero is true
  EXPECT_FALSE(ini.ReadBool("Conf", "Zero", true));
  EXPECT_EQ(ini.ReadInteger("Conf", "Texto", 8080), 8080);   // not numbers: defaults
  EXPECT_FALSE(ini.ReadBool("Conf", "Texto", false));
  EXPECT_EQ(ini.ReadInteger("Conf", "Vazio", 8080), 8080);
  EXPECT_TRUE(ini.ReadBool("Conf", "Ausente", true));
  EXPECT_EQ(ini.ReadString("Conf", "Texto", "x"), "sim");
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
      // a byte order mark stays in front
      {"\xEF\xBB\xBF[Conf]\r\nNumPorta=1\r\n", "\xEF\xBB\xBF[Conf]\r\nNumPorta=9999\r\n"},
  };
  for (const Caso& c : casos) {
    GravarArquivo(caminho, c.antes);
    TArqIni(caminho.string()).WriteInteger("Conf", "NumPorta", 9999);
    EXPECT_EQ(LerArquivo(caminho), c.depois) << c.antes;
  }
}

TEST(TArqIni, AFileThatCannotBeWrittenRaisesUnableToWrite) {
  MemEnv mem;
  mem.CreateFolders("/pasta");
  FaultyEnv env(mem);
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
                ReadResult{ReadStatus::kCannotOpen, {},
                                 std::make_error_code(std::errc::permission_denied)});
  EXPECT_THROW(ini.WriteBool("Conf", "IniAut", true), TArqIniError);
  EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 8080), 8080);
  env.Heal();
  EXPECT_EQ(mem.FileBytes("/pasta/orvws.ini"), "[Conf]\nNumPorta=81\n");
}

// A file larger than the limit is not ours: its start is read, and it is never written over.
TEST(TArqIni, ALargerFileIsReadUpToTheLimitAndNeverRewritten) {
  MemEnv mem;
  const std::string grande = "[Conf]\nNumPorta=81\n" + std::string(kTamanhoMaximoIni, ';');
  mem.PutFile("/p/orvws.ini", grande);
  TArqIni ini("/p/orvws.ini", mem);
  EXPECT_EQ(ini.ReadInteger("Conf", "NumPorta", 8080), 81);
  EXPECT_THROW(ini.WriteInteger("Conf", "NumPorta", 82), TArqIniError);
  EXPECT_EQ(mem.FileBytes("/p/orvws.ini"), grande);
}

TEST(TArqIni, AFolderThatDoesNotExistCannotBeWritten) {
  testing::TempFolder dir;
  const std::string caminho = (dir.path() / "nao-existe" / "orvws.ini").string();
  TArqIni ini(caminho);
  EXPECT_THROW(ini.WriteInteger("Conf", "NumPorta", 80), TArqIniError);
}

}  // namespace
}  // namespace orv::util
