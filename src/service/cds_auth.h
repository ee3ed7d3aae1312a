// The session table CdsAuth: one row per collector address, binding the address to the user
// with which it authenticated. In memory only; emptied when the listener starts or stops.
//
// Rows are handed out as copies: an operation finds its own row once (ClienteAutenticado) and
// works on that copy, so no request ever sees another request's current row or a half-made
// row. Beside the visible fields each row keeps the full address and the full user name as
// sent, by which it is found and by which the user's connection is found.
//
// Thread safety: every method may be called from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::service {

// ---- Field widths, in characters of the host's code page ---------------------------------
inline constexpr std::size_t kLarguraDesIp = 100;      // any IPv4/IPv6 text with a zone fits
inline constexpr std::size_t kLarguraDesUsuario = 30;  // width of the user name column
inline constexpr std::size_t kLarguraFlgMultLoja = 1;  // "S" / "N"

struct TSessao {
  // Visible fields, as the table holds them (host's code page, cut to width; kept as UTF-8).
  std::string DES_IP;
  std::string DES_USUARIO;
  std::int32_t COD_LOJA = 0;
  std::string FLG_MULT_LOJA;
  std::int32_t COD_USUARIO = 0;
  // The address and the user name exactly as received.
  std::string IpCompleto;
  std::string UsuarioCompleto;
};

class TCdsAuth {
 public:
  // The row of the address (exact, case-sensitive comparison of the whole text), if any.
  std::optional<TSessao> Localizar(std::string_view ip) const;
  // Deletes the row of the address; true when there was one.
  bool Excluir(std::string_view ip);
  // Stores a row for sessao.IpCompleto/UsuarioCompleto, replacing any row of that address.
  // The visible fields are made from the full texts (converted and cut to width).
  void Gravar(TSessao sessao);
  // Deletes every row.
  void EmptyDataSet();

  std::size_t RecordCount() const;
  std::vector<TSessao> Registros() const;

 private:
  mutable std::mutex mutex_;
  std::vector<TSessao> rows_;
};

}  // namespace orv::service
