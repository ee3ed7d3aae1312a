#!/usr/bin/python3
"""Calls a running OrvWs through a third-party SOAP toolkit (python3-suds), reading its WSDL.

    /usr/bin/python3 scripts/demo_client.py [BASE_URL] [USER]     # default http://127.0.0.1:8080 ANA

Does what a handheld does once: Auth (a wrong key first, then the collectors' key), GetSQL, one
AddItemPesquisa for an entry and a bar code taken from the downloaded script, and an Exec batch
of one statement. Prints one line per step with its time; exits non-zero on a wrong answer.
Made for the demo installation of scripts/demo.sh, whose users are ANA, BRUNO, ...
"""
import re
import sys
import time

from suds.client import Client

KEY = "7be09a4f2d31e8c6a05f93d7b2e6184c"


def main() -> int:
    base = sys.argv[1] if len(sys.argv) > 1 else "http://127.0.0.1:8080"
    user = sys.argv[2] if len(sys.argv) > 2 else "ANA"
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
    svc = Client(base + "/wsdl/IOrvWs", cache=None, timeout=30).service
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
