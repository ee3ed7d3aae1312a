// A fresh embedded Firebird database with the management schema and the fixture, in a
// temporary folder of its own, with an administrator connection for the test's own SQL.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "data/config/configuracao.h"
#include "data/sql.h"
#include "data/test_db.h"
#include "support/temp_folder.h"

namespace orv::testing {

class BancoTeste {
 public:
  explicit BancoTeste(bool com_fixture = true)
      : caminho_(data::testdb::CreateTestDatabase(dir_.path(), com_fixture)),
        admin_(data::testdb::FirebirdConnection(caminho_)) {
    admin_->Open();
  }
  ~BancoTeste() { admin_->Close(); }

  const std::string& Caminho() const { return caminho_; }
  std::string Pasta() const { return dir_.str(); }
  data::SqlConnection& Admin() { return *admin_; }

  // The settings of an installation whose database is this one (embedded Firebird).
  data::ConfigConexao Config() const {
    data::ConfigConexao c;
    c.TipoBanco = 0;
    c.LocalGestao = caminho_;
    return c;
  }

  void Executar(const std::string& sql) {
    data::SqlQuery q(*admin_);
    q.SetSql({sql});
    q.ExecSQL();
  }
  // The first column of the first row of a query, as an integer.
  int Contar(const std::string& sql) {
    data::SqlQuery q(*admin_);
    q.SetSql({sql});
    q.Open();
    q.First();
    return q.FieldAsInteger("N");
  }
  // Removes the database file under the open connections.
  void RemoverArquivo() { std::filesystem::remove(caminho_); }

 private:
  TempFolder dir_{"orv_service"};
  std::string caminho_;
  std::unique_ptr<data::SqlConnection> admin_;
};

}  // namespace orv::testing
