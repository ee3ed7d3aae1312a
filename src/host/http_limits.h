// Every limit of the HTTP listener and the request handler, each with its reason.
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
// Bytes of one request's line and header lines together (trailer lines included). Real clients
// send well under 2 KiB; the line and line-count limits alone let one connection hold 16 MiB of
// headers. Past it the connection is closed without a response, as the other header limits do.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
// Largest request body: a collector's batch is a few hundred kilobytes at most, and without a
// cap one client could make the service hold any amount of memory. Larger gets 413.
inline constexpr std::uint64_t kMaxBodyBytes = 64ull * 1024 * 1024;
// Request bytes held in memory at once, over all connections: every byte of a request line,
// its headers and its body is counted as it arrives, until its connection ends. A request
// whose bytes do not fit is answered 503: at once when its announced body cannot fit in what
// is free now (before any body byte is read, and without an interim 100 answer), or when the
// next bytes do not fit. Requests whose body is past kSmallBodyBytes (only hostile or unusual
// clients send them) share a smaller part of it, so that a few large uploads can never crowd
// out the collectors' small requests. Announcing a length costs nothing: only bytes held count.
// The SOAP road holds at most about three times a body while it is parsed, so requests can make
// the process hold about three times the budget at the very most: with the rest of the service
// the process stays under 512 MiB whatever clients send. One body of the largest size fits in
// the large share; the collectors' small requests always have 80 MiB.
inline constexpr std::uint64_t kMaxBufferedRequestBytes = 144ull * 1024 * 1024;
inline constexpr std::uint64_t kMaxLargeBodiesBytes = kMaxBodyBytes;
inline constexpr std::uint64_t kSmallBodyBytes = 1024 * 1024;
// A request must keep arriving at this average rate once the grace below has passed (the time
// allowed grows by one second per kMinRequestBytesPerSecond bytes received): a sender that
// trickles a byte now and then would otherwise hold its connection, and the bytes it holds, for
// as long as the other deadlines allow. A handheld on a poor store Wi-Fi link sends 1 KB/s or
// more; the rate is a quarter of that. Past it the connection is closed without a response.
inline constexpr std::uint64_t kMinRequestBytesPerSecond = 256;
inline constexpr std::chrono::milliseconds kMinRateGrace{10000};
// Connections open at once from one peer address. A store's collectors may reach the service
// through one router (one address), each with one request at a time: generous for that, and it
// keeps one address from taking every connection. A connection past it is answered 503 and
// closed.
inline constexpr std::size_t kMaxConnectionsPerPeer = 256;
// A request whose line and headers have not all arrived this long after its first byte is
// closed without a response: a client trickling header bytes would otherwise hold its
// connection as long as it sends one byte per idle period.
inline constexpr std::chrono::milliseconds kHeaderTimeout{30000};
// A connection with no byte arriving for this long is closed, so that a client that announces
// more than it sends cannot hold its connection for ever.
inline constexpr std::chrono::milliseconds kIdleTimeout{60000};
// A response is cut when the socket has taken none of its bytes for this long (the client stopped
// reading). A response that is still moving is never cut, however long it takes: a handheld on a
// weak link reads a 24 MB download at 40 KB/s in ten minutes.
inline constexpr std::chrono::milliseconds kSendProgressTimeout{60000};
// Bounds of the period of the sweep that enforces the idle and header deadlines (a quarter of
// the shorter one): often enough for short test deadlines, rarely enough to cost nothing.
inline constexpr long kMinSweepPeriodMs = 10;
inline constexpr long kMaxSweepPeriodMs = 1000;
// Connections the sweep ends in one turn of the event loop. Ending one (closing its socket,
// cancelling its read, the reset it sends over loopback) costs 50 to 200 microseconds, and a
// flood of hostile connections reaches its deadlines all at once: a thousand ended in one go
// kept every accept and read waiting for 50 to 150 ms. The rest of the sweep follows in the
// next turns.
inline constexpr std::size_t kSweepEndsPerTurn = 16;
// The wait before looking for body bytes sent without Content-Length or Transfer-Encoding.
inline constexpr std::chrono::milliseconds kLengthCheckDelay{1};
// Pending connections the kernel queues per listening socket (the system caps it at
// net.core.somaxconn, 4096 by default). A handshake that finds the queue full is dropped and
// costs its client a 1 s SYN retransmission: 15 dropped them when 32 collectors connected at
// once, and 511 when a thousand hostile clients reconnected at the same instant.
inline constexpr int kListenBacklog = 4096;
// Connections taken from the kernel's queue in one turn of the event loop. Taken one per turn,
// a burst of a thousand hostile connections filled the queue (a turn waits for every read
// that is ready) and a collector's connection waited behind all of them, or was dropped;
// taken by this many, a burst goes in a few turns, each short enough (an accept costs up to
// 150 microseconds) that the reads of the connections already open still get theirs.
inline constexpr std::size_t kAcceptBatch = 64;
// Descriptors kept free for the process itself (database, log file, listeners, libraries)
// when the connection cap is derived from the descriptor limit.
inline constexpr long kDescriptorReserve = 128;
// Cap on simultaneous connections when the system sets no descriptor limit.
inline constexpr std::size_t kMaxConnectionsUnlimited = 16384;
// Web modules in dispatch at once.
inline constexpr std::size_t kMaxActiveModules = 32;
// A request that finds every web module busy waits, in arrival order, this long from its arrival
// for one to come free, and only then is refused with 500: a shift-start burst of collectors is
// served in well under a second, and a refusal is shown to the operator of the handheld.
inline constexpr std::chrono::milliseconds kDispatchWaitTimeout{5000};
// Requests waiting at once for a web module; one more is refused at once.
inline constexpr std::size_t kMaxWaitingRequests = 96;
// Dispatch threads: one per web module in dispatch and one per waiting request, so that a
// waiting request never keeps a later one from its own wait or refusal.
inline constexpr std::size_t kMaxDispatchThreads = kMaxActiveModules + kMaxWaitingRequests;
// Requests dispatched at once, per core, before a later one waits for a thread to finish (at
// least kMinDispatchAtOnce): more threads than this only take turns on the same cores, and each
// one woken costs a switch that a thread finishing a request and taking the next does not. A
// request that has run for kDispatchStallDelay is taken to wait on something (a locked row, a
// web module, the disk) and gives its place up, so the next one starts on another thread (up
// to kMaxDispatchThreads): a slow request holds the others back by that much at most. Measured
// on 2 cores: a GetPortTypeList costs 15-20% less server CPU with 4 threads at once than with
// one thread per request in flight.
inline constexpr std::size_t kDispatchAtOncePerCore = 2;
inline constexpr std::size_t kMinDispatchAtOnce = 4;
inline constexpr std::chrono::milliseconds kDispatchStallDelay{5};
// A dispatch thread beyond those that run at once ends after this long without a request: a
// burst's threads serve the next burst, and a quiet service keeps few.
inline constexpr std::chrono::milliseconds kDispatchThreadIdleEnd{30000};
// Requests whose bytes pass kSmallBodyBytes (only hostile or unusual clients send them; each
// costs its parse a good share of a second of a core at the largest size) are dispatched on
// threads of their own, this many, at this much lower a scheduling priority: the collectors'
// small requests get the cores first. They still take web modules like any other request.
inline constexpr std::size_t kLargeRequestThreads = 4;
inline constexpr int kLargeRequestNiceness = 10;
// Pieces of an answer handed to one write: a few of GetSQL's 1 MiB pieces already fill a
// socket's send buffer, and the system takes at most IOV_MAX (1024) at once.
inline constexpr std::size_t kMaxWriteBuffers = 16;
// Bytes read from a socket at a time.
inline constexpr std::size_t kReadChunk = 8192;
// After an answer sent before the whole request was read, unread bytes are drained for at most
// this long (and this many bytes) before closing, so that the client reads the answer instead
// of a connection reset.
inline constexpr std::chrono::milliseconds kLingerTimeout{2000};
inline constexpr std::size_t kLingerMaxBytes = 256 * 1024;
// Pause before accepting again after the system ran out of descriptors.
inline constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

// A version 1 PROXY header is one line of at most 107 bytes with its CR LF (the protocol's
// own bound: the longest TCP6 line).
inline constexpr std::size_t kProxyV1MaxLine = 107;
// Longest PROXY header read from a trusted proxy; a longer one closes the connection. A
// version 2 header is 16 bytes, 36 of IPv6 addresses and what the balancer adds (TLS details,
// the server name, a unique id): a few hundred bytes; anything near the protocol's 64 KiB is
// not from a balancer we trust.
inline constexpr std::size_t kMaxProxyHeaderBytes = 1024;

}  // namespace orv::host
