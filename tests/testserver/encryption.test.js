// TLS as each real client meets it: every "encryption" mode of the state
// file against every setting of the client, with what reached the server's
// log (whether the login packet came encrypted, and how much of the
// session is).
'use strict';
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { startServer, defaultState } = require('./harness');
const { CLIENTS } = require('./clients');

const client = CLIENTS[process.env.CLIENT];
if (!client) throw new Error('CLIENT must be one of ' + Object.keys(CLIENTS).join(', '));

const LIST = 'SELECT name FROM master.dbo.sysdatabases';

// Strict encryption checks the certificate always, so those cases use one
// made for 127.0.0.1 and hand it to the client as trusted.
function pki() {
  const fs = require('node:fs');
  const os = require('node:os');
  const path = require('node:path');
  const { execFileSync } = require('node:child_process');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvelo-pki-'));
  const file = (name) => path.join(dir, name);
  fs.writeFileSync(file('srv.tmpl'), 'cn = "127.0.0.1"\nip_address = "127.0.0.1"\ntls_www_server\nexpiration_days = 30\n');
  execFileSync('certtool', ['--generate-privkey', '--key-type=ecdsa', '--outfile', file('srv.key')], { stdio: 'ignore' });
  execFileSync('certtool', ['--generate-self-signed', '--load-privkey', file('srv.key'), '--template', file('srv.tmpl'),
    '--outfile', file('srv.pem')], { stdio: 'ignore' });
  return { certificate: file('srv.pem'), key: file('srv.key') };
}

// FreeTDS speaks strict encryption from 1.5 on.
const strictSkip = client.strictUnsupported ? client.strictUnsupported() : false;

// tls: what the login line of the log says; null: no login reached the server.
// tedious has no "request" setting: it offers encryption only when required,
// and it goes on in clear when the server has none.
const CASES = [
  { mode: 'off', setting: 'require', tls: 'session' },
  { mode: 'off', setting: 'request', tls: 'login', only: 'tsql' },
  { mode: 'off', setting: 'off', tls: 'none' },
  { mode: 'required', setting: 'require', tls: 'session' },
  { mode: 'required', setting: 'request', tls: 'session', only: 'tsql' },
  { mode: 'required', setting: 'off', tls: null },
  { mode: 'unsupported', setting: 'require', tls: client.name === 'tsql' ? null : 'none' },
  { mode: 'unsupported', setting: 'request', tls: 'none', only: 'tsql' },
  { mode: 'unsupported', setting: 'off', tls: 'none' },
  { mode: 'strict', setting: 'strict', tls: 'strict' },
  { mode: 'strict', setting: 'require', tls: null },
  { mode: 'strict-capable', setting: 'strict', tls: 'strict' },
  { mode: 'strict-capable', setting: 'require', tls: 'session' },
  { mode: 'strict-capable', setting: 'off', tls: 'none' },
];

describe(`${client.name} and the server's encryption`, () => {
  for (const c of CASES.filter((c) => !c.only || c.only === client.name)) {
    const strict = c.mode.startsWith('strict');
    const skip = c.setting === 'strict' && strictSkip;
    it(`"${c.mode}" server, client "${c.setting}": ${c.tls ? 'TLS ' + c.tls : 'no login sent'}`, { skip }, async () => {
      const state = defaultState();
      state.encryption = c.mode;
      const trust = strict ? pki() : {};
      Object.assign(state, trust);
      const server = await startServer(state);
      try {
        const r = await client.run(server.port, 'sa', 'Secreto.1', [LIST], { encryption: c.setting, caFile: trust.certificate });
        const logins = server.logLines().filter((l) => l.request === 'login');
        if (c.tls === null) {
          assert.equal(r.connected, false);
          assert.deepEqual(logins, [], 'no login packet reached the server');
          return;
        }
        assert.equal(r.connected, true, JSON.stringify(r));
        assert.ok(r.rows.some((row) => row[0] === 'Ventas'), 'the list came back');
        assert.equal(logins.length, 1);
        assert.equal(logins[0].tls, c.tls);
        assert.equal(logins[0].encrypted, c.tls !== 'none');
        assert.equal(logins[0].method, 'sql');
        assert.ok(!JSON.stringify(server.logLines()).includes('Secreto.1'), 'no password in the log');
      } finally {
        await server.stop();
        server.cleanup();
      }
    });
  }
});
