#!/usr/bin/env bash
# Takes a screenshot of the running operator window under Xvfb into docs/screenshot.png: makes
# the demo installation (scripts/demo.sh --prepare), starts Xvfb with its screen kept in a file,
# runs OrvWs (auto-start on), sends a few collector and browser requests so the log grid and the
# indicators show something (a session, a wrong key, a failed statement and price, a SOAP
# fault), then copies the window's area of the screen into a PNG.
# Needs no image tools: the screen file (XWD) is turned into PNG by a few lines of Python.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export ORVWS_PORT=${ORVWS_PORT:-8090}
port=$ORVWS_PORT
out="$root/docs/screenshot.png"

bash scripts/demo.sh --prepare
inst="$root/demo/orvalen"
export PATH="$inst:$PATH"

work=$(mktemp -d)
xvfb_pid=""; app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill -TERM "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
disp=90
while [ -e "/tmp/.X11-unix/X$disp" ] || [ -e "/tmp/.X$disp-lock" ]; do disp=$((disp + 1)); done
Xvfb ":$disp" -screen 0 1280x800x24 -fbdir "$work" -nolisten tcp -nocursor >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done

DISPLAY=":$disp" QT_QPA_PLATFORM=xcb "$inst/bin/OrvWs" >"$work/orvws.log" 2>&1 &
app_pid=$!
for _ in $(seq 300); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done

soap() {   # operation, parameters as XML
  curl -s -o /dev/null -H 'Content-Type: text/xml; charset=utf-8' \
    -H "SOAPAction: \"urn:UOrvWsIntf-IOrvWs#$1\"" \
    --data-binary "<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns1=\"urn:UOrvWsIntf-IOrvWs\"><SOAP-ENV:Body><ns1:$1>$2</ns1:$1></SOAP-ENV:Body></SOAP-ENV:Envelope>" \
    "http://127.0.0.1:$port/soap/IOrvWs"
}
soap Auth '<KeyValue>chave-errada</KeyValue><UserName>MARIA</UserName>'
soap Auth '<KeyValue>7be09a4f2d31e8c6a05f93d7b2e6184c</KeyValue><UserName>MARIA</UserName>'
soap GetSQL '<Value>GETUSUARIOS</Value>'
soap GetSQL '<Value></Value>'
soap Exec '<Value>UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO WHERE 1 = 0;UPDATE TAB_SEM_NOME SET X = 1</Value>'
soap AddItemPesquisa '<CodPesquisa>1</CodPesquisa><CodConcorrente>1</CodConcorrente><CodEan>0000000000000</CodEan><ValPesquisa>4.99</ValPesquisa>'
# A broken envelope: a SOAP fault.
curl -s -o /dev/null -H 'Content-Type: text/xml; charset=utf-8' \
  -H 'SOAPAction: "urn:UOrvWsIntf-IOrvWs#Auth"' --data-binary '<SOAP-ENV:Envelope' \
  "http://127.0.0.1:$port/soap/IOrvWs"
curl -s -o /dev/null "http://127.0.0.1:$port/wsdl/IOrvWs"
curl -s -o /dev/null "http://127.0.0.1:$port/"
sleep 2   # the window shows new rows from its message loop

python3 - "$work/Xvfb_screen0" "$out" <<'PY'
import struct, sys, zlib
src, dst = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
h = struct.unpack('>25I', data[:100])
header_size, width, height = h[0], h[4], h[5]
byte_order, bpp, bpl = h[7], h[11], h[12]
masks, ncolors = h[14:17], h[19]
if bpp != 32:
    sys.exit('unexpected screen depth: %d bits per pixel' % bpp)
pixels = data[header_size + ncolors * 12:]
fmt = '<I' if byte_order == 0 else '>I'
shifts = [(m & -m).bit_length() - 1 for m in masks]
def rgb(x, y):
    (p,) = struct.unpack_from(fmt, pixels, y * bpl + x * 4)
    return bytes(((p & m) >> s) & 0xFF for m, s in zip(masks, shifts))
# Without a window manager the window sits at the top left: crop to what differs from the
# screen's background (the bottom-right pixel).
fundo = rgb(width - 1, height - 1)
right = bottom = 0
for y in range(0, height, 2):
    for x in range(0, width, 2):
        if rgb(x, y) != fundo:
            right, bottom = max(right, x), max(bottom, y)
w, hgt = min(width, right + 2), min(height, bottom + 2)
if w < 50 or hgt < 50:
    sys.exit('no window on the screen')
raw = b''.join(b'\x00' + b''.join(rgb(x, y) for x in range(w)) for y in range(hgt))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, hgt, 8, 2, 0, 0, 0)) +
       chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
open(dst, 'wb').write(png)
print('%s: %dx%d' % (dst, w, hgt))
PY
