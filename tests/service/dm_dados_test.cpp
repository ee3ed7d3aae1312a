// The data module's start-up through the installation's configuration file.
#include "service/dm_dados.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "data/config/configuracao.h"
#include "data/config/sconf_writer.h"
#include "data/conexoes.h"
#include "data/sql.h"
#include "data/test_db.h"
#include "operator/activity_log.h"
#include "support/temp_folder.h"
#include "service/orvws.h"
#include "util/platform.h"

namespace {

void SetPath(const std::string& value) {
#ifdef _WIN32
  _putenv_s("PATH", value.c_str());
#else
  setenv("PATH", value.c_str(), 1);
#endif
}

// An installation folder ".../orvalen" on PATH, with an SCONF.xml for an embedded database.
class DataModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* p = std::getenv("PATH");
    old_path_ = p ? p : "";
    pasta_ = dir_.path() / "orvalen";
    std::filesystem::create_directories(pasta_);
    SetPath(pasta_.string() + orv::util::platform::kPathListSeparator + old_path_);
  }
  void TearDown() override { SetPath(old_path_); }

  void Sconf(const std::string& gestao) {
    orv::data::SconfValores v;
    v.TipoBanco = 0;
    v.Servidor = "localhost";
    v.Gestao = gestao;
    v.Online = gestao;
    orv::data::GravarSconf((pasta_ / "SCONF.xml").string(), v, true);
  }

  orv::testing::TempFolder dir_{"orv_dm"};
  std::filesystem::path pasta_;
  std::string old_path_;
};

TEST_F(DataModuleTest, StartsFromTheInstallationsConfiguration) {
  const std::string banco = orv::data::testdb::CreateTestDatabase(dir_.path());
  Sconf(banco);
  orv::service::TDmDados dm;
  dm.DataModuleCreate();
  EXPECT_EQ(dm.ChaveAutenticacao(), "7be09a4f2d31e8c6a05f93d7b2e6184c");
  EXPECT_EQ(dm.TipoBanco(), 0);
  EXPECT_TRUE(dm.ScnGestao().IsOpen());
  EXPECT_EQ(dm.ScnGestao().Param("DataBase"), banco);
  EXPECT_EQ(dm.CdsAuth().RecordCount(), 0u);
  EXPECT_EQ(dm.QuantidadeConexoes(), 0);

  orv::op::ActivityLogOptions o;
  o.PastaLogs = dir_.str();
  orv::op::TActivityLog log(std::move(o));
  EXPECT_TRUE(orv::service::TOrvWs({"10.0.0.1"}, dm, log).Auth(dm.ChaveAutenticacao(), "ANA"));
  EXPECT_EQ(dm.CdsAuth().Localizar("10.0.0.1")->COD_USUARIO, 3);
}

TEST_F(DataModuleTest, FailuresCarryTheMessageToShow) {
  // No configuration file: the configuration's message.
  {
    orv::service::TDmDados dm;
    try {
      dm.DataModuleCreate();
      FAIL() << "no error";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()).rfind(orv::data::kPrefixoErroConfig, 0), 0u) << e.what();
    }
  }
  // A database that cannot be opened: the connection's message with LF CR before the cause.
  Sconf((dir_.path() / "nao_existe.fdb").string());
  orv::service::TDmDados dm;
  try {
    dm.DataModuleCreate();
    FAIL() << "no error";
  } catch (const std::exception& e) {
    const std::string esperado =
        std::string(orv::data::kPrefixoErroConexao) + "\n\r";
    EXPECT_EQ(std::string(e.what()).rfind(esperado, 0), 0u) << e.what();
    EXPECT_GT(std::string(e.what()).size(), esperado.size());
  }
  // Before a successful start-up nothing reaches a connection.
  EXPECT_THROW(orv::service::TDmDados().ScnGestao(), std::logic_error);
  EXPECT_EQ(orv::service::TDmDados().ConexaoRegistrada("ANA"), nullptr);
}

}  // namespace
