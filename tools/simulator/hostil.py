#!/usr/bin/env python3
"""Hostile traffic for scripts/badinput.sh: malformed HTTP, malformed SOAP, oversized bodies,
slow senders and thousands of idle connections, all at once, for a fixed time, on loopback; and
the attacks that each used to break the service for everybody, at scale: a thousand connections
announcing a megabyte and sending one byte, a thousand connections sending header lines of
16 000 bytes, envelopes of 2 000 000 empty elements, elements of 50 000 and 200 000 attributes,
Auth calls whose user name forges a log entry or is 64 MiB long, an Exec batch of 64 MiB of ";",
a multipart body built against its boundary search, a refused body announced with
"Expect: 100-continue".

Every exchange has a deadline; the run ends after --duracao seconds whatever the service does.
Prints one summary line per kind of traffic (with the longest time an answer took), the number
of calls that reached an operation ("operacoes=N", each leaves one log entry) and a final line
"hostil: ok" or the problems seen: an answer that is not HTTP, a SOAP request answered without a
fault envelope, an oversized body taken instead of refused, an interim answer before a refusal,
a refusal that did not come at once. Exit status 0 unless the tool itself failed to run.
"""
import argparse
import asyncio
import collections
import random
import resource
import select
import socket
import sys
import threading
import time

SOAP_NS = "http://schemas.xmlsoap.org/soap/envelope/"
# Bytes sent per interval by a slow sender, and the interval: slower than any real client,
# faster than the service's idle time-out, so only a cap on time per request would end them.
SLOW_CHUNK = 1
SLOW_INTERVAL_S = 0.5
# Deadline of one exchange of the malformed kinds.
EXCHANGE_TIMEOUT_S = 10.0
# The service refuses bodies larger than this (HTTP 413).
MAX_BODY = 64 * 1024 * 1024


def envelope(body_xml, action_ns="urn:UOrvWsIntf-IOrvWs"):
    return ('<?xml version="1.0"?><soap:Envelope xmlns:soap="%s"><soap:Body>%s</soap:Body>'
            '</soap:Envelope>' % (SOAP_NS, body_xml)).encode()


def post(path, body, extra=b"", content_type=b"text/xml; charset=utf-8", length=None):
    n = len(body) if length is None else length
    return (b"POST " + path + b" HTTP/1.1\r\nHost: x\r\nContent-Type: " + content_type +
            b"\r\nContent-Length: " + str(n).encode() + b"\r\n" + extra + b"\r\n" + body)


def with_attributes(n):
    """An empty element x with n attributes a0="1", a1="1", ..."""
    return b"<x " + b" ".join(b'a%d="1"' % i for i in range(n)) + b"/>"


def malformed_http():
    """Requests the listener must refuse or answer without harm."""
    big_line = b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n"
    many_headers = b"GET / HTTP/1.1\r\n" + b"".join(b"X-%d: y\r\n" % i for i in range(2000)) + b"\r\n"
    return [
        b"\r\n\r\n",
        b"GARBAGE\r\n\r\n",
        b"GET\r\n\r\n",
        b"GET / HTTP/9.9\r\n\r\n",
        b"GET / HTTP/1.1\r\nNoColonHere\r\n\r\n",
        b"GET /\x00\x01\x02 HTTP/1.1\r\n\r\n",
        b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(random.getrandbits(8) for _ in range(200)),
        big_line,
        many_headers,
        b"POST /soap/IOrvWs HTTP/1.1\r\nContent-Length: abc\r\n\r\n",
        b"POST /soap/IOrvWs HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
        b"POST /soap/IOrvWs HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef",
        b"POST /soap/IOrvWs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n",
        b"POST /soap/IOrvWs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc",
        b"POST /soap/IOrvWs HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n",
        b"POST /soap/IOrvWs HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        b"GET /../../etc/passwd HTTP/1.1\r\n\r\n",
        b"GET /wsdl/%00%ff%zz HTTP/1.1\r\n\r\n",
        b"OPTIONS * HTTP/1.1\r\n\r\n",
        b"POST /soap/IOrvWs HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 10\r\n\r\n",
        b"GET / HTTP/1.1\r\nHost: x\r\n" + b" folded\r\n" * 100 + b"\r\n",
        bytes(random.getrandbits(8) for _ in range(4096)),
    ]


def malformed_soap():
    """Well-formed HTTP carrying SOAP the endpoint must answer with a fault."""
    laughs = (b'<?xml version="1.0"?><!DOCTYPE l [<!ENTITY a "aaaaaaaaaa">'
              + b"".join(b'<!ENTITY %c "&%c;&%c;&%c;&%c;&%c;&%c;&%c;&%c;&%c;&%c;">' % ((c,) + (c - 1,) * 10)
                         for c in range(ord("b"), ord("k")))
              + b']><soap:Envelope xmlns:soap="' + SOAP_NS.encode() + b'"><soap:Body><Auth><KeyValue>&j;'
              b"</KeyValue></Auth></soap:Body></soap:Envelope>")
    external = (b'<?xml version="1.0"?><!DOCTYPE e [<!ENTITY x SYSTEM "file:///etc/passwd">]>'
                b'<soap:Envelope xmlns:soap="' + SOAP_NS.encode() + b'"><soap:Body><GetSQL><Value>&x;'
                b"</Value></GetSQL></soap:Body></soap:Envelope>")
    deep = b"<a>" * 100000 + b"</a>" * 100000
    attrs = with_attributes(20000)
    return [
        b"",
        b"not xml at all",
        b"<unclosed",
        b'<?xml version="1.0" encoding="EBCDIC-nope"?><a/>',
        b"\xff\xfe<\x00a\x00",
        b"<a/><b/>",
        laughs,
        external,
        deep,
        attrs,
        envelope("<Nope/>"),
        envelope(""),
        envelope("<m:AddItemPesquisa xmlns:m='urn:UOrvWsIntf-IOrvWs'><CodPesquisa>12a</CodPesquisa></m:AddItemPesquisa>"),
        envelope("<m:AddItemPesquisa xmlns:m='urn:UOrvWsIntf-IOrvWs'><ValPesquisa>1e999</ValPesquisa></m:AddItemPesquisa>"),
        ('<soap:Envelope xmlns:soap="%s"><soap:Header><h mustUnderstand="1"/></soap:Header>'
         "<soap:Body><Auth/></soap:Body></soap:Envelope>" % SOAP_NS).encode(),
        ('<soap:Envelope xmlns:soap="%s"><soap:Body><Auth/></soap:Body><soap:Body><Auth/></soap:Body>'
         "</soap:Envelope>" % SOAP_NS).encode(),
        ('<soap:Envelope xmlns:soap="%s" soap:encodingStyle="urn:other"><soap:Body><Auth/></soap:Body>'
         "</soap:Envelope>" % SOAP_NS).encode(),
        b"<Envelope><Body><Auth/></Body></Envelope>",
        envelope("<Auth>" + "<KeyValue>x</KeyValue>" * 5000 + "</Auth><Sobra/>" * 2 + "<x>"),
    ]


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.counts = collections.defaultdict(collections.Counter)
        self.problems = collections.Counter()
        self.slowest = collections.defaultdict(float)
        self.operations = 0
        self.peaks = {}

    def add(self, kind, what, seconds=None):
        with self.lock:
            self.counts[kind][what] += 1
            if seconds is not None:
                self.slowest[kind] = max(self.slowest[kind], seconds)

    def problem(self, text):
        with self.lock:
            self.problems[text] += 1

    def operation(self):
        with self.lock:
            self.operations += 1

    def peak(self, name, value):
        with self.lock:
            self.peaks[name] = max(self.peaks.get(name, 0), value)


def connect(host, port, source, timeout):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    if source:
        s.bind((source, 0))
    s.connect((host, port))
    return s


def exchange(host, port, source, payload, timeout=EXCHANGE_TIMEOUT_S):
    """Sends payload, reads until close or deadline; returns (status line, body) or raises."""
    deadline = time.monotonic() + timeout
    s = connect(host, port, source, timeout)
    try:
        try:
            s.sendall(payload)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the service may refuse before reading everything; its answer is read below
        data = b""
        while time.monotonic() < deadline:
            s.settimeout(max(0.05, deadline - time.monotonic()))
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
            if len(data) > 4 * 1024 * 1024:
                break
        return data
    finally:
        s.close()


def status_of(data):
    if not data:
        return "fechou sem resposta"
    if not data.startswith(b"HTTP/1.1 ") and not data.startswith(b"HTTP/1.0 "):
        return None
    return data[9:12].decode("ascii", "replace")


def rounds(stats, stop, kind, pause, step):
    """Until stop: step(n) for n = 0, 1, 2, ..., each followed by a pause of `pause` seconds. A
    network error in a step counts as an outcome of kind."""
    n = 0
    while not stop.is_set():
        try:
            step(n)
        except OSError as e:
            stats.add(kind, "erro de rede: %s" % e.__class__.__name__)
        n += 1
        stop.wait(pause)


def run_malformed_http(args, stats, stop):
    cases = malformed_http()

    def step(n):
        data = exchange(args.host, args.porta, "127.0.3.1", cases[n % len(cases)])
        st = status_of(data)
        if st is None:
            stats.problem("resposta que não é HTTP a um pedido malformado: %r" % data[:60])
            st = "não HTTP"
        stats.add("http malformado", st)
    rounds(stats, stop, "http malformado", args.intervalo, step)


def run_malformed_soap(args, stats, stop):
    cases = malformed_soap()
    action = b'SOAPAction: "urn:UOrvWsIntf-IOrvWs#Auth"\r\n'

    def step(n):
        body = cases[n % len(cases)]
        data = exchange(args.host, args.porta, "127.0.3.2", post(b"/soap/IOrvWs", body, action))
        st = status_of(data)
        if st is None:
            stats.problem("resposta que não é HTTP a um SOAP malformado")
            st = "não HTTP"
        elif st in ("200", "500") and b"<faultstring>" not in data:
            stats.problem("SOAP malformado respondido sem falha: %r" % body[:60])
        stats.add("soap malformado", st)
    rounds(stats, stop, "soap malformado", args.intervalo, step)


def run_oversized(args, stats, stop):
    """Bodies past the service's cap must be refused (413) before being taken; a body just
    under the cap of junk is read and answered with a fault."""
    def step(n):
        if n % 2 == 0:
            # Announce past the cap and send some of it: refused without reading it all.
            head = post(b"/soap/IOrvWs", b"", length=MAX_BODY + 1)
            data = exchange(args.host, args.porta, "127.0.3.3", head + b"<" * (1024 * 1024), timeout=30)
            st = status_of(data) or "não HTTP"
            if st != "413":
                stats.problem("corpo acima do limite respondido com %s" % st)
        else:
            body = b"<x>" + b"a" * (args.corpo_mb * 1024 * 1024) + b"</y>"
            data = exchange(args.host, args.porta, "127.0.3.3", post(b"/soap/IOrvWs", body), timeout=60)
            st = status_of(data) or "não HTTP"
            # 503: the bytes of large bodies held at once are bounded, another took the room.
            if st != "503" and b"<faultstring>" not in data:
                stats.problem("corpo grande malformado respondido sem falha (%s)" % st)
        stats.add("corpos grandes", st)
    rounds(stats, stop, "corpos grandes", args.intervalo_grande, step)


def run_slow(args, stats, stop, source):
    """A sender that trickles a request, a byte at a time, reconnecting whenever closed. The
    request names no operation, so even when whole it reaches no operation (and no log line)."""
    body = envelope("<m:Lento xmlns:m='urn:UOrvWsIntf-IOrvWs'><Value>%s</Value></m:Lento>" % ("x" * 200))
    request = post(b"/soap/IOrvWs", body)
    while not stop.is_set():
        try:
            s = connect(args.host, args.porta, source, EXCHANGE_TIMEOUT_S)
        except OSError:
            stats.add("remetentes lentos", "conexão recusada")
            stop.wait(1)
            continue
        sent = 0
        outcome = "durou até o fim"
        try:
            poller = select.poll()   # select() cannot watch descriptors past 1023
            poller.register(s, select.POLLIN)
            while not stop.is_set() and sent < len(request):
                s.sendall(request[sent:sent + SLOW_CHUNK])
                sent += SLOW_CHUNK
                if poller.poll(SLOW_INTERVAL_S * 1000):
                    outcome = "fechada pelo serviço" if not s.recv(4096) else "respondida antes do fim"
                    break
            else:
                if sent >= len(request):
                    outcome = "pedido completo"
        except OSError:
            outcome = "fechada pelo serviço"
        finally:
            s.close()
        stats.add("remetentes lentos", outcome)


def run_idle(args, stats, stop):
    """Opens many connections that never send a byte and holds them."""
    socks = []
    refused = 0
    for i in range(args.ociosas):
        if stop.is_set():
            break
        source = "127.0.4.%d" % (1 + i % 250)
        try:
            socks.append(connect(args.host, args.porta, source, 5))
        except OSError:
            refused += 1
    stats.add("conexões ociosas", "abertas: %d" % len(socks))
    if refused:
        stats.add("conexões ociosas", "recusadas: %d" % refused)
    poller = select.poll()
    for s in socks:
        poller.register(s, select.POLLIN)
    closed = 0
    while not stop.is_set() and closed < len(socks):
        for fd, _ in poller.poll(1000):
            poller.unregister(fd)
            closed += 1
    stats.add("conexões ociosas", "fechadas pelo serviço: %d" % closed)
    for s in socks:
        s.close()


# Addresses of the attacks at scale: many of them, so that the cap on connections per address
# is not what stops them (it is tested apart, by the idle connections of one address).
def spread(base, i):
    return "127.0.%d.%d" % (base + i // 250, 1 + i % 250)


# Seconds within which a request refused for its shape must be answered.
AT_ONCE_S = 2.0
# The service's key: with it, a hostile client is a collector that authenticated.
KEY = "7be09a4f2d31e8c6a05f93d7b2e6184c"


def soap_call(op, params, ns="urn:UOrvWsIntf-IOrvWs"):
    return envelope("<m:%s xmlns:m='%s'>%s</m:%s>" % (op, ns, params, op))


def timed_exchange(args, source, payload, timeout=EXCHANGE_TIMEOUT_S):
    start = time.monotonic()
    data = exchange(args.host, args.porta, source, payload, timeout)
    return data, time.monotonic() - start


def run_shapes(args, stats, stop):
    """Envelopes whose shape used to cost the service far more than their size: 2 000 000 empty
    elements (8 MB), an element with 50 000 and one with 200 000 attributes. Each must be
    refused with a fault, at once."""
    empty = soap_call("Exec", "<Value>" + "<a/>" * 2000000 + "</Value>")
    cases = [("2 000 000 elementos", empty)] + [
        ("%d atributos" % n, soap_call("GetSQL", "<Value>%s</Value>" % with_attributes(n).decode()))
        for n in (50000, 200000)]

    def step(n):
        name, body = cases[n % len(cases)]
        data, took = timed_exchange(args, "127.0.3.4", post(b"/soap/IOrvWs", body), timeout=60)
        st = status_of(data) or "não HTTP"
        # 503: the bytes of large bodies held at once are bounded, another took the room.
        if st != "503" and b"<faultstring>" not in data:
            stats.problem("envelope de forma hostil (%s) respondido sem falha (%s)" % (name, st))
        elif took > AT_ONCE_S:
            stats.problem("envelope de forma hostil (%s) recusado só depois de %.1f s" % (name, took))
        stats.add("formas hostis", "%s: %s" % (name, st), took)
    rounds(stats, stop, "formas hostis", args.intervalo_grande / 2, step)


def run_log_attacks(args, stats, stop):
    """Calls whose text used to forge or flood the log: Auth with a wrong key and a user name that
    carries a line break and a made-up entry, Auth with a 64 MiB user name, and, after an Auth
    with the key, an Exec batch of 64 MiB of ";". Every call that reaches an operation is
    counted: it leaves exactly one log entry."""
    forged = ("x\r\n10/12/2026 10:00:00.000(00:00:00.000), Coletor(10.9.9.9 como admin) "
              "autenticado com sucesso!")
    huge_name = "n" * (64 * 1024 * 1024 - 4096)
    batch = ";" * (64 * 1024 * 1024 - 4096)
    source = "127.0.3.5"

    def step(n):
        if n % 10 == 2:
            data, took = timed_exchange(args, source, post(b"/soap/IOrvWs", soap_call(
                "Auth", "<KeyValue>errada</KeyValue><UserName>%s</UserName>" % huge_name)), 60)
            name = "nome de 64 MiB"
        elif n % 10 == 6:
            data, took = timed_exchange(args, source, post(b"/soap/IOrvWs", soap_call(
                "Auth", "<KeyValue>%s</KeyValue><UserName>HOSTIL</UserName>" % KEY)))
            if b">true<" in data:
                stats.operation()
                data, took = timed_exchange(args, source, post(b"/soap/IOrvWs", soap_call(
                    "Exec", "<Value>%s</Value>" % batch)), 120)
            name = "Exec de 64 MiB de ;"
        else:
            data, took = timed_exchange(args, source, post(b"/soap/IOrvWs", soap_call(
                "Auth", "<KeyValue>errada</KeyValue><UserName>%s</UserName>" % forged)))
            name = "nome que forja uma entrada"
        st = status_of(data) or "não HTTP"
        if st == "200" and b"<faultstring>" not in data:
            stats.operation()
        stats.add("log", "%s: %s" % (name, st), took)
    rounds(stats, stop, "log", args.intervalo_grande / 4, step)


def run_refusals(args, stats, stop):
    """A refused body announced with Expect: 100-continue must get no interim answer; a multipart
    body of 32 MiB built against a boundary of 4 000 characters must be answered within seconds."""
    boundary = b"b" * 3999 + b"c"
    multipart = (b"--" + boundary[:-1] + b"\r\n") * ((32 * 1024 * 1024) // (len(boundary) + 3))
    ctype = b'multipart/related; boundary="' + boundary + b'"'

    def step(n):
        if n % 2 == 0:
            head = post(b"/soap/IOrvWs", b"", extra=b"Expect: 100-continue\r\n", length=MAX_BODY + 1)
            data, took = timed_exchange(args, "127.0.3.6", head)
            st = status_of(data) or "não HTTP"
            if b"100 Continue" in data:
                stats.problem("resposta intermediária 100 antes de uma recusa")
            if st != "413":
                stats.problem("corpo acima do limite com Expect respondido com %s" % st)
            stats.add("recusas", "Expect acima do limite: %s" % st, took)
        else:
            data, took = timed_exchange(args, "127.0.3.6", post(b"/soap/IOrvWs", multipart,
                                                                content_type=ctype), timeout=60)
            st = status_of(data) or "não HTTP"
            if st != "503" and b"<faultstring>" not in data:
                stats.problem("multipart hostil respondido sem falha (%s)" % st)
            elif took > 10:
                stats.problem("multipart hostil respondido só depois de %.1f s" % took)
            stats.add("recusas", "multipart contra a fronteira: %s" % st, took)
    rounds(stats, stop, "recusas", args.intervalo_grande, step)


async def connection_rounds(args, stats, stop, kind, source, use):
    """Until stop, rounds of one connection from source each: use(reader, writer, start) makes the
    round and counts its outcome under kind (start: when the round began, time.monotonic()); a
    connection the service does not take within 10 s counts as refused. The connection is closed
    after its round, and a second passes before the next."""
    while not stop.is_set():
        start = time.monotonic()
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection(
                args.host, args.porta, local_addr=(source, 0)), 10)
        except (OSError, asyncio.TimeoutError):
            stats.add(kind, "conexão recusada")
            await asyncio.sleep(1)
            continue
        try:
            await use(reader, writer, start)
        finally:
            writer.close()
        await asyncio.sleep(1)


async def announcer(args, stats, stop, i):
    """Announces a body of a megabyte, sends one byte, then one byte a minute."""
    head = post(b"/soap/IOrvWs", b"", length=1024 * 1024) + b"<"

    async def announce(reader, writer, start):
        outcome = "durou até o fim"
        try:
            writer.write(head)
            await writer.drain()
            while not stop.is_set():
                try:
                    data = await asyncio.wait_for(reader.read(4096), 60)
                except asyncio.TimeoutError:
                    writer.write(b"x")
                    await writer.drain()
                    continue
                if not data:
                    outcome = "fechada pelo serviço"
                else:
                    outcome = "respondida: %s" % (status_of(data) or "não HTTP")
                break
        except OSError:
            outcome = "fechada pelo serviço"
        stats.add("anunciantes", outcome, time.monotonic() - start)
    await connection_rounds(args, stats, stop, "anunciantes", spread(10, i), announce)


async def header_flooder(args, stats, stop, i):
    """Sends up to 1 000 header lines of 16 000 bytes, as fast as the service takes them."""
    line = b"X-Enchimento: " + b"e" * 15984 + b"\r\n"

    async def flood(reader, writer, start):
        sent = 0
        outcome = "todas as linhas enviadas"
        try:
            writer.write(b"GET / HTTP/1.1\r\nHost: x\r\n")
            for sent in range(1000):
                if stop.is_set():
                    break
                writer.write(line)
                await asyncio.wait_for(writer.drain(), 30)
        except (OSError, asyncio.TimeoutError):
            outcome = "cortada pelo serviço"
        stats.add("cabeçalhos", outcome)
        stats.peak("cabeçalhos: KiB escritos por conexão, no máximo", (sent + 1) * 16000 // 1024)
    await connection_rounds(args, stats, stop, "cabeçalhos", spread(20, i), flood)


def run_connection_attacks(args, stats, stop):
    async def all_of_them():
        tasks = [asyncio.ensure_future(announcer(args, stats, stop, i)) for i in range(args.anunciantes)]
        tasks += [asyncio.ensure_future(header_flooder(args, stats, stop, i))
                  for i in range(args.cabecalhos)]
        while not stop.is_set():
            await asyncio.sleep(0.2)
        await asyncio.wait(tasks, timeout=30)
        for t in tasks:
            t.cancel()
    asyncio.run(all_of_them())


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--porta", type=int, required=True)
    p.add_argument("--duracao", type=float, default=60)
    p.add_argument("--ociosas", type=int, default=3000)
    p.add_argument("--lentos", type=int, default=50)
    p.add_argument("--corpo-mb", type=int, default=40)
    p.add_argument("--grandes", type=int, default=2, help="remetentes de corpos grandes ao mesmo tempo")
    p.add_argument("--intervalo", type=float, default=0.02)
    p.add_argument("--intervalo-grande", type=float, default=2.0)
    p.add_argument("--anunciantes", type=int, default=1000,
                   help="conexões que anunciam 1 MiB e mandam um byte")
    p.add_argument("--cabecalhos", type=int, default=1000,
                   help="conexões que mandam linhas de cabeçalho de 16 000 bytes")
    p.add_argument("--escala", type=int, default=1, help="0: sem os ataques em escala")
    p.add_argument("--so", default="", help="só estes tipos, separados por vírgula: ociosas, http, "
                   "soap, grandes, lentos, formas, log, recusas, conexoes")
    args = p.parse_args()

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    need = args.ociosas + args.lentos + args.anunciantes + args.cabecalhos + 256
    if soft < need:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(need, soft)), hard))

    random.seed(7)
    stats = Stats()
    stop = threading.Event()
    only = set(k for k in args.so.split(",") if k)
    wanted = lambda kind: not only or kind in only
    threads = []
    if wanted("ociosas"):
        threads.append(threading.Thread(target=run_idle, args=(args, stats, stop)))
    if wanted("http"):
        threads.append(threading.Thread(target=run_malformed_http, args=(args, stats, stop)))
    if wanted("soap"):
        threads.append(threading.Thread(target=run_malformed_soap, args=(args, stats, stop)))
    if wanted("grandes"):
        threads += [threading.Thread(target=run_oversized, args=(args, stats, stop)) for _ in range(args.grandes)]
    if wanted("lentos"):
        threads += [threading.Thread(target=run_slow, args=(args, stats, stop, "127.0.5.%d" % (1 + i % 250)))
                    for i in range(args.lentos)]
    if args.escala:
        for kind, f in (("formas", run_shapes), ("log", run_log_attacks), ("recusas", run_refusals),
                        ("conexoes", run_connection_attacks)):
            if wanted(kind):
                threads.append(threading.Thread(target=f, args=(args, stats, stop)))
    for t in threads:
        t.daemon = True
        t.start()
    time.sleep(args.duracao)
    stop.set()
    for t in threads:
        t.join(timeout=90)

    for kind, counter in sorted(stats.counts.items()):
        slowest = " (a mais demorada: %.2f s)" % stats.slowest[kind] if kind in stats.slowest else ""
        print("%s: %s%s" % (kind, ", ".join("%s x%d" % (k, v) for k, v in sorted(counter.items())),
                             slowest))
    for name, value in sorted(stats.peaks.items()):
        print("%s: %s" % (name, value))
    print("operacoes=%d" % stats.operations)
    if stats.problems:
        for text, n in stats.problems.most_common(20):
            print("PROBLEMA: %s (%d vezes)" % (text, n))
    else:
        print("hostil: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
