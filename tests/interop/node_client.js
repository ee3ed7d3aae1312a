// Calls the four IOrvWs operations through the Node.js "soap" package, reading the WSDL.
// Usage: node node_client.js BASE_URL KEY USER   (exit status non-zero on the first wrong answer)
'use strict';
const soap = require('soap');

let client = null;

function check(step, ok, detail) {
  console.log(`node ${step}: ${ok ? 'ok' : 'FAILED'} ${detail || ''}`);
  if (!ok) {
    if (client) console.log('request:', client.lastRequest, '\nresponse:', client.lastResponse);
    process.exit(1);
  }
}

async function main() {
  const [base, key, user] = process.argv.slice(2);
  client = await soap.createClientAsync(base + '/wsdl/IOrvWs');
  const call = async (op, args) => (await client[op + 'Async'](args))[0];
  // The package hands back { return: value } and, for values typed by xsi:type, the text
  // under "$value" beside the attributes.
  const value = (r) => {
    let v = r && typeof r === 'object' && 'return' in r ? r['return'] : r;
    if (v && typeof v === 'object' && '$value' in v) v = v['$value'];
    return v;
  };
  const asBool = (v) => v === true || v === 'true';

  check('Auth(wrong key)', !asBool(value(await call('Auth', { KeyValue: 'x' + key, UserName: user }))));
  const auth = await call('Auth', { KeyValue: key, UserName: user });
  check('Auth', asBool(value(auth)), JSON.stringify(auth));
  const script = value(await call('GetSQL', { Value: '' }));
  check('GetSQL', typeof script === 'string' && script.includes('DELETE FROM TAB_USUARIO_COLETOR;'),
        `${(script || '').length} chars`);
  const batch = 'DELETE FROM TAB_PRODUTO_PESQUISA WHERE COD_PRODUTO = 990002;' +
                'DELETE FROM TAB_CODIGO_BARRA WHERE COD_PRODUTO = 990002;' +
                'DELETE FROM TAB_PRODUTO WHERE COD_PRODUTO = 990002;' +
                "INSERT INTO TAB_PRODUTO (COD_PRODUTO, DES_PRODUTO) VALUES (990002, 'A<B & C');" +
                "INSERT INTO TAB_CODIGO_BARRA (COD_PRODUTO, COD_EAN) VALUES (990002, '7890000990002');";
  const result = value(await call('Exec', { Value: batch }));
  // XML parsers normalise CR LF to LF; this package also trims the text's ends.
  check('Exec', String(result).replace(/\r\n/g, '\n').trim() === 'true;\n'.repeat(5).trim(),
        JSON.stringify(result));
  const added = value(await call('AddItemPesquisa',
      { CodPesquisa: 7, CodConcorrente: 2, CodEan: '7890000990002', ValPesquisa: 3.5 }));
  check('AddItemPesquisa', typeof added === 'string' && added.includes("'A<B & C'"),
        JSON.stringify(added).slice(0, 120));
}

main().catch((e) => { console.log('node FAILED', e && e.message); process.exit(1); });
