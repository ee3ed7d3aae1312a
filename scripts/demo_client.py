#!/usr/bin/python3
"""Calls a running OrvWs through a third-party SOAP toolkit (python3-suds), reading its WSDL.

    /usr/bin/python3 scripts/demo_client.py [BASE_URL] [USER]     # default http://127.0.0.1:8080 ANA
    /usr/bin/python3 scripts/demo_client.py https://127.0.0.1:8443 COL1 --ca ca.pem --origem 127.0.3.1

With https, the service's certificate must be signed by an authority of --ca (default: the
system's) and name the URL's host; the WSDL names its address with http (the service behind the
balancer does not know it is reached with TLS), so the calls go to BASE_URL's /soap/IOrvWs.
--origem connects from that local address, as a handheld of its own.

Does what a handheld does once: Auth (a wrong key first, then the collectors' key), GetSQL, one
AddItemPesquisa for an entry and a bar code taken from the downloaded script, and an Exec batch
of one statement. Prints one line per step with its time; exits non-zero on a wrong answer.
Made for the demo installation of scripts/demo.sh, whose users are ANA, BRUNO, ...
"""
import argparse
import functools
import http.client
import re
import ssl
import sys
import time
import urllib.request

from suds.client import Client
from suds.transport.http import HttpTransport

KEY = "7be09a4f2d31e8c6a05f93d7b2e6184c"


class Transport(HttpTransport):
    """suds' transport with the certificate authorities and the local address chosen."""

    def __init__(self, cafile, source, **kwargs):
        HttpTransport.__init__(self, **kwargs)
        self.context = ssl.create_default_context(cafile=cafile)
        self.source = (source, 0) if source else None

    def u2handlers(self):
        context, source = self.context, self.source

        class Https(urllib.request.HTTPSHandler):
            def https_open(self, req):
                return self.do_open(functools.partial(http.client.HTTPSConnection, source_address=source),
                                    req, context=context)

        class Http(urllib.request.HTTPHandler):
            def http_open(self, req):
                return self.do_open(functools.partial(http.client.HTTPConnection, source_address=source), req)

        return HttpTransport.u2handlers(self) + [Https(), Http()]


def main() -> int:
    parser = argparse.ArgumentParser(description="Calls a running OrvWs through suds.")
    parser.add_argument("base", nargs="?", default="http://127.0.0.1:8080")
    parser.add_argument("user", nargs="?", default="ANA")
    parser.add_argument("--ca", help="PEM file of the authorities that sign the service's certificate")
    parser.add_argument("--origem", help="local address to connect from")
    args = parser.parse_args()
    base, user = args.base.rstrip("/"), args.user
    failed = False

    def step(name, call, check):
        nonlocal failed
        start = time.monotonic()
        value = call()
        ms = (time.monotonic() - start) * 1000
        ok = check(value)
        shown = value if not isinstance(value, str) or len(value) < 100 else (
            value[:97].replace("\r\n", " ") + "...")
        print(f"{name}: {'ok' if ok else 'FAILED'} ({ms:.1f} ms) {shown!r}")
        failed = failed or not ok
        return value

    start = time.monotonic()
    client = Client(base + "/wsdl/IOrvWs", cache=None, timeout=30,
                    transport=Transport(args.ca, args.origem, timeout=30))
    if base.startswith("https:"):
        client.set_options(location=base + "/soap/IOrvWs")
    svc = client.service
    print(f"WSDL {base}/wsdl/IOrvWs: ok ({(time.monotonic() - start) * 1000:.1f} ms)")
    step("Auth(wrong key)", lambda: svc.Auth("x" + KEY, user), lambda v: v is False)
    step(f"Auth({user})", lambda: svc.Auth(KEY, user), lambda v: v is True)
    script = step("GetSQL", lambda: svc.GetSQL(""),
                  lambda v: isinstance(v, str) and "DELETE FROM TAB_USUARIO_COLETOR;" in v)
    entry = re.search(r"INTO TAB_PESQUISA \(COD_PESQUISA, COD_PESQUISA_HEADER, COD_LOJA, "
                      r"DES_PESQUISA\) VALUES \((\d+), (\d+),", script or "")
    ean = re.search(r"INTO TAB_CODIGO_BARRA \(COD_PRODUTO, COD_EAN\) VALUES \('\d+', '(\d+)'\)",
                    script or "")
    if not entry or not ean:
        print("GetSQL: FAILED no survey entry or bar code in the script")
        return 1
    concorrente, pesquisa = int(entry.group(1)), int(entry.group(2))
    # A price already recorded for this entry and product is answered "false"; both are a
    # working service.
    step(f"AddItemPesquisa({pesquisa}, {concorrente}, {ean.group(1)}, 4.99)",
         lambda: svc.AddItemPesquisa(pesquisa, concorrente, ean.group(1), 4.99),
         lambda v: v == "false" or (isinstance(v, str) and "UPDATE TAB_PRODUTO_PESQUISA SET" in v))
    step("Exec", lambda: svc.Exec("UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO "
                                  "WHERE COD_PRODUTO = '-1';"),
         lambda v: isinstance(v, str) and v.strip() == "true;")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
