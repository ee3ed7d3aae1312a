#!/usr/bin/python3
"""Calls the four IOrvWs operations through python3-suds, reading the service's WSDL.

Usage: suds_client.py BASE_URL KEY USER
Prints one line per step and exits non-zero on the first wrong answer.
"""
import sys

from suds.client import Client


def main() -> int:
    base, key, user = sys.argv[1], sys.argv[2], sys.argv[3]
    client = Client(base + "/wsdl/IOrvWs", cache=None, timeout=30)
    svc = client.service

    def check(step, ok, detail):
        print(f"suds {step}: {'ok' if ok else 'FAILED'} {detail}")
        if not ok:
            sys.exit(1)

    check("Auth(wrong key)", svc.Auth("x" + key, user) is False, "")
    check("Auth", svc.Auth(key, user) is True, "")
    script = svc.GetSQL("")
    check("GetSQL", isinstance(script, str) and "DELETE FROM TAB_USUARIO_COLETOR;" in script,
          f"{len(script or '')} chars")
    # A product whose description needs escaping on the wire, then the price that returns it.
    batch = ("DELETE FROM TAB_PRODUTO_PESQUISA WHERE COD_PRODUTO = 990001;"
             "DELETE FROM TAB_CODIGO_BARRA WHERE COD_PRODUTO = 990001;"
             "DELETE FROM TAB_PRODUTO WHERE COD_PRODUTO = 990001;"
             "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (990001, 'A<B & C');"
             "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (990001, '7890000990001');")
    result = svc.Exec(batch)
    # XML parsers normalise the CR LF line ends of the result to LF.
    check("Exec", (result or "").replace("\r\n", "\n") == "true;\n" * 5, repr(result))
    added = svc.AddItemPesquisa(7, 2, "7890000990001", 3.5)
    check("AddItemPesquisa", isinstance(added, str) and "'A<B & C'" in added, repr(added)[:120])
    again = svc.AddItemPesquisa(7, 2, "7890000990001", 3.5)
    check("AddItemPesquisa(duplicate)", again == "false", repr(again))
    return 0


if __name__ == "__main__":
    sys.exit(main())
