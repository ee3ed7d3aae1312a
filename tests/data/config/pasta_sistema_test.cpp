#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "data/config/configuracao.h"
#include "util/mem_env.h"

namespace orv::data {
namespace {

struct FolderCase {
  std::string path;
  const char* expected;   // nullptr: no item qualifies
};

void Check(const FolderCase& c, char list, char folder) {
  if (c.expected == nullptr) {
    try {
      ObterPastaSistema(c.path, list, folder);
      ADD_FAILURE() << "no error for " << c.path;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Não foi encontrado o caminho do Orvalen no PATH do sistema.");
    }
  } else {
    EXPECT_EQ(ObterPastaSistema(c.path, list, folder), c.expected) << c.path;
  }
}

TEST(ObterPastaSistema, WindowsRules) {
  const FolderCase cases[] = {
      {"C:\\Windows;D:\\Orvalen\\Bin", "D:\\Orvalen"},
      {"D:\\ORVALEN", "D:\\ORVALEN"},
      {"D:\\Orvalen\\", "D:\\Orvalen"},
      {"C:\\Windows;E:\\Orvalen;D:\\Orvalen", "E:\\Orvalen"},   // first item in PATH order
      {"D:\\OrvalenErp\\bin", "D:\\OrvalenErp\\bin\\"},          // no component equals orvalen
      {"C:\\Program Files\\Orvalen", "Files\\Orvalen"},         // a blank ends an item
      {"\"C:\\Program Files\\Orvalen\"", "C:\\Program\\Files\\Orvalen"},
      {"C:\\x;\"D:\\Orvalen", "D:\\Orvalen"},                    // quote without its end
      {"  C:\\x ; ;D:\\Orvalen\\bin;", "D:\\Orvalen"},
      {std::string("C:\\x\0D:\\Orvalen", 15), "D:\\Orvalen"},    // NUL never stalls the scan
      {"", nullptr},
      {"C:\\Windows;C:\\Orval\xC3\xA9n", nullptr},
      {";;;", nullptr},
  };
  for (const auto& c : cases) Check(c, ';', '\\');
}

TEST(ObterPastaSistema, PosixRules) {
  const FolderCase cases[] = {
      {"/usr/bin:/opt/Orvalen/bin", "/opt/Orvalen"},
      {"/opt/ORVALEN", "/opt/ORVALEN"},
      {"/opt/Orvalen/", "/opt/Orvalen"},
      {"/usr/bin:/srv/Orvalen:/opt/Orvalen", "/srv/Orvalen"},
      {"/opt/OrvalenErp/bin", "/opt/OrvalenErp/bin/"},
      {"/opt/Program Files/Orvalen", "Files/Orvalen"},
      {"\"/opt/Program Files/Orvalen\"", "/opt/Program/Files/Orvalen"},
      {"/usr/bin:/bin", nullptr},
  };
  for (const auto& c : cases) Check(c, ':', '/');
}

TEST(ObterPastaSistema, ReadsThePathVariable) {
  util::MemEnv env;
  env.SetEnvironmentVariable("PATH", "/usr/bin:/tmp/x/Orvalen/bin");
  EXPECT_EQ(ObterPastaSistema(env), "/tmp/x/Orvalen");
  env.SetEnvironmentVariable("PATH", std::nullopt);
  EXPECT_THROW(ObterPastaSistema(env), std::runtime_error);
}

}  // namespace
}  // namespace orv::data
