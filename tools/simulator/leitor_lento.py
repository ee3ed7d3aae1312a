#!/usr/bin/env python3
"""A handheld on a weak link downloading its script: Auth, then GetSQL read at --kbps kilobytes
a second through a small receive buffer, as a weak store Wi-Fi delivers it. Checks that the
whole answer arrives: status 200, as many body bytes as Content-Length says, a whole envelope.
With --parar-apos N it stops reading after N bytes and holds the connection for --segurar
seconds, for the service's progress deadline to cut it (the service's log tells).

Prints key=value lines (bytes, seconds, rate, outcome); exit status 0 when the outcome is the
one expected (the whole answer, or a cut after --parar-apos).
"""
import argparse
import socket
import sys
import time

KEY = "7be09a4f2d31e8c6a05f93d7b2e6184c"
NS = "urn:UOrvWsIntf-IOrvWs"


def call(op, params):
    body = ('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/'
            'soap/envelope/"><SOAP-ENV:Body><NS1:%s xmlns:NS1="%s">%s</NS1:%s></SOAP-ENV:Body>'
            '</SOAP-ENV:Envelope>' % (op, NS, params, op, )).encode()
    return (b"POST /soap/IOrvWs HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml; charset=utf-8\r\n"
            b'SOAPAction: "' + NS.encode() + b"#" + op.encode() + b'"\r\nContent-Length: ' +
            str(len(body)).encode() + b"\r\n\r\n" + body)


def connect(args, receive_buffer=0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((args.origem, 0))
    s.settimeout(600)
    s.connect((args.host, args.porta))
    return s


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--porta", type=int, required=True)
    p.add_argument("--origem", default="127.0.7.1")
    p.add_argument("--usuario", default="LEITOR")
    p.add_argument("--kbps", type=float, default=40)
    p.add_argument("--parar-apos", type=int, default=0)
    p.add_argument("--segurar", type=float, default=90)
    args = p.parse_args()

    s = connect(args)
    s.sendall(call("Auth", "<KeyValue>%s</KeyValue><UserName>%s</UserName>" % (KEY, args.usuario)))
    answer = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        answer += chunk
    s.close()
    if b">true<" not in answer:
        print("resultado=auth recusado")
        return 1

    s = connect(args, receive_buffer=16 * 1024)
    s.sendall(call("GetSQL", "<Value></Value>"))
    start = time.monotonic()
    data = b""
    per_read = 4096
    pause = per_read / (args.kbps * 1024.0)
    outcome = "inteira"
    while True:
        if args.parar_apos and len(data) >= args.parar_apos:
            # Stops reading and holds the connection: the service's progress deadline must end
            # it (its log says so), with the rest of the answer still queued.
            time.sleep(args.segurar)
            outcome = "parou"
            break
        try:
            chunk = s.recv(per_read)
        except ConnectionResetError:
            outcome = "resetada"
            break
        if not chunk:
            break
        data += chunk
        time.sleep(pause)
    seconds = time.monotonic() - start
    s.close()

    head, _, body = data.partition(b"\r\n\r\n")
    length = None
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    print("bytes=%d" % len(body))
    print("content_length=%s" % length)
    print("segundos=%.1f" % seconds)
    print("kbps=%.1f" % (len(data) / 1024.0 / max(seconds, 0.001)))
    if args.parar_apos:
        print("resultado=%s" % outcome)
        return 0
    whole = (head.startswith(b"HTTP/1.1 200") and length == len(body) and
             body.rstrip().endswith(b"</SOAP-ENV:Envelope>"))
    print("resultado=%s" % ("inteira" if whole else "incompleta"))
    return 0 if whole else 1


if __name__ == "__main__":
    sys.exit(main())
