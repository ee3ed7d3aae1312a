#include "service/cds_auth.h"

#include <algorithm>
#include <utility>

#include "util/text.h"

namespace orv::service {

namespace {

std::string Campo(std::string_view text, std::size_t width) {
  return util::Utf16Left(util::ThroughAnsi(text), width);
}

}  // namespace

std::optional<TSessao> TCdsAuth::Localizar(std::string_view ip) const {
  std::lock_guard lock(mutex_);
  for (const TSessao& s : rows_)
    if (s.IpCompleto == ip) return s;
  return std::nullopt;
}

bool TCdsAuth::Excluir(std::string_view ip) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(rows_.begin(), rows_.end(),
                               [&](const TSessao& s) { return s.IpCompleto == ip; });
  if (it == rows_.end()) return false;
  rows_.erase(it);
  return true;
}

void TCdsAuth::Gravar(TSessao sessao) {
  sessao.DES_IP = Campo(sessao.IpCompleto, kLarguraDesIp);
  sessao.DES_USUARIO = Campo(sessao.UsuarioCompleto, kLarguraDesUsuario);
  sessao.FLG_MULT_LOJA = Campo(sessao.FLG_MULT_LOJA, kLarguraFlgMultLoja);
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(rows_.begin(), rows_.end(),
                               [&](const TSessao& s) { return s.IpCompleto == sessao.IpCompleto; });
  if (it != rows_.end())
    *it = std::move(sessao);
  else
    rows_.push_back(std::move(sessao));
}

void TCdsAuth::EmptyDataSet() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}

std::size_t TCdsAuth::RecordCount() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::vector<TSessao> TCdsAuth::Registros() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

}  // namespace orv::service
