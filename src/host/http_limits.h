// Every limit of the HTTP listener and the request bridge, each with its reason.
//
// Thread safety: constants only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace orv::host {

// Longest request line, header line, chunk-size line or trailer line, in characters; a longer
// line closes the connection without a response.
inline constexpr std::size_t kMaxLineLength = 16384;
// Most header lines of one request; one more closes the connection without a response.
inline constexpr std::size_t kMaxHeaderLines = 1024;
// Largest request body: a collector's batch is a few hundred kilobytes at most, and without a
// cap one client could make the service hold any amount of memory. Larger gets 413.
inline constexpr std::uint64_t kMaxBodyBytes = 64ull * 1024 * 1024;
// Request bodies held in memory at once, over all connections: past this a request whose
// body does not fit is answered 503 before its body is read. Bodies past kSmallBodyBytes
// (only hostile or unusual clients send them) share a smaller part of it, so that a few large
// uploads can never crowd out the collectors' small requests. Each body is counted at its
// announced length (chunked bodies as they grow) until its connection ends. The SOAP road
// holds at most about three times a body while it is parsed (measured: 120 MiB for a 40 MiB
// envelope, 80 MiB for 40 MiB that is not XML), so bodies can make the process hold about
// 800 MiB at the very most.
inline constexpr std::uint64_t kMaxBufferedBodyBytes = 256ull * 1024 * 1024;
inline constexpr std::uint64_t kMaxLargeBodiesBytes = 2 * kMaxBodyBytes;
inline constexpr std::uint64_t kSmallBodyBytes = 1024 * 1024;
// A request whose line and headers have not all arrived this long after its first byte is
// closed without a response: a client trickling header bytes would otherwise hold its
// connection as long as it sends one byte per idle period.
inline constexpr std::chrono::milliseconds kHeaderTimeout{30000};
// A connection with no byte arriving (or leaving) for this long is closed, so that a client
// that announces more than it sends cannot hold its connection for ever.
inline constexpr std::chrono::milliseconds kIdleTimeout{60000};
// Bounds of the period of the sweep that enforces the idle and header deadlines (a quarter of
// the shorter one): often enough for short test deadlines, rarely enough to cost nothing.
inline constexpr long kMinSweepPeriodMs = 10;
inline constexpr long kMaxSweepPeriodMs = 1000;
// The wait before looking for body bytes sent without Content-Length or Transfer-Encoding.
inline constexpr std::chrono::milliseconds kLengthCheckDelay{1};
// Pending connections the kernel queues per listening socket. 15 drops handshakes when 32
// clients connect at once (each drop costs a 1 s SYN retransmission); 511 queues them all.
inline constexpr int kListenBacklog = 511;
// Descriptors kept free for the process itself (database, log file, listeners, libraries)
// when the connection cap is derived from the descriptor limit.
inline constexpr long kDescriptorReserve = 128;
// Cap on simultaneous connections when the system sets no descriptor limit.
inline constexpr std::size_t kMaxConnectionsUnlimited = 16384;
// Dispatch threads: more than the 32 web modules that can be in dispatch at once, so that a
// request beyond them is refused at once instead of waiting for a thread.
inline constexpr std::size_t kMaxDispatchThreads = 64;
// Web modules in dispatch at once; one more request is refused with 500.
inline constexpr std::size_t kMaxActiveModules = 32;
// Bytes read from a socket at a time.
inline constexpr std::size_t kReadChunk = 8192;
// After an answer sent before the whole request was read, unread bytes are drained for at most
// this long (and this many bytes) before closing, so that the client reads the answer instead
// of a connection reset.
inline constexpr std::chrono::milliseconds kLingerTimeout{2000};
inline constexpr std::size_t kLingerMaxBytes = 256 * 1024;
// Pause before accepting again after the system ran out of descriptors.
inline constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

}  // namespace orv::host
