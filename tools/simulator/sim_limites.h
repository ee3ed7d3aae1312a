// Every limit and fixed value of the collector simulator (orvws-sim), each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orv::sim {

// The key every collector presents to Auth; it is part of the service and of the handhelds.
inline constexpr std::string_view kChaveAutenticacao = "7be09a4f2d31e8c6a05f93d7b2e6184c";
// Namespace and SOAP actions of the collectors' interface.
inline constexpr std::string_view kNamespaceOrvWs = "urn:UOrvWsIntf-IOrvWs";
inline constexpr std::string_view kCaminhoSoap = "/soap/IOrvWs";

// Longest answer accepted. The download script is the largest message and grows with the
// catalog; a few hundred megabytes is far past any store's catalog, and without a cap a broken
// or hostile server could make the simulator hold any amount of memory.
inline constexpr std::size_t kMaxResposta = 512u * 1024 * 1024;
// Longest header block of an answer; the service's headers are a few hundred bytes.
inline constexpr std::size_t kMaxCabecalhos = 64u * 1024;
// Bytes read from the socket at a time.
inline constexpr std::size_t kBlocoLeitura = 64u * 1024;
// Default wait for one whole request (connect, send, answer). A download of a large catalog
// takes seconds; a service that answers nothing within this is reported as failed.
inline constexpr std::chrono::milliseconds kTempoLimitePadrao{30000};

// The service refuses a request while 32 others are in dispatch ("Maximum number of concurrent
// connections exceeded.  Please try again later", status 500). A handheld tries again after a
// pause; the simulator does the same, with growing pauses, for as long as one request may take
// (kTempoLimitePadrao) and at most this many times.
inline constexpr std::string_view kTextoRecusaOcupado = "Maximum number of concurrent connections exceeded";
inline constexpr int kMaxTentativasOcupado = 1000;
inline constexpr std::chrono::milliseconds kPausaOcupadoInicial{5};
inline constexpr std::chrono::milliseconds kPausaOcupadoMaxima{250};

// Prices are sent as 32-bit floats and stored with two decimals. Below 131072 the float
// nearest to a two-decimal price is within half a cent of it, so the stored price is exactly
// the one meant; prices cycle below this bound.
inline constexpr std::int32_t kMaxCentavos = 10'000'000;

// Items added per round when the operator does not say.
inline constexpr int kItensPadrao = 3;
// Collectors of one load run: each has a thread, a socket at a time and a local store in
// memory; past this the machine, not the service, would be measured.
inline constexpr int kMaxColetores = 4096;
// Seconds between progress lines of a long run.
inline constexpr int kProgressoPadraoS = 5;

}  // namespace orv::sim
