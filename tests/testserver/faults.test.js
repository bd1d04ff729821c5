// The faults of the state file, as each real client meets them: a server
// or network that refuses, drops the line, stalls or talks nonsense at
// every stage of a conversation.
'use strict';
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { startServer, defaultState } = require('./harness');
const { CLIENTS } = require('./clients');

const client = CLIENTS[process.env.CLIENT];
if (!client) throw new Error('CLIENT must be one of ' + Object.keys(CLIENTS).join(', '));

const LIST = 'SELECT name FROM master.dbo.sysdatabases';
const DELAY_MS = 400;

async function withFaults(faults, body) {
  const state = defaultState();
  state.faults = faults;
  const server = await startServer(state);
  try {
    await body(server);
  } finally {
    await server.stop();
    server.cleanup();
  }
}

function serverErrors(r) {
  return r.messages.filter((m) => m.severity > 10);
}

describe(`${client.name} meets the server's faults`, () => {
  for (const stage of ['connect', 'prelogin', 'login']) {
    const actions = stage === 'connect' ? ['refuse', 'close', 'garbage'] : ['close', 'garbage'];
    for (const action of actions) {
      it(`fails to connect when the server does "${action}" at ${stage}`, () =>
        withFaults([{ stage, action }], async (server) => {
          const r = await client.run(server.port, 'sa', 'Secreto.1', [LIST]);
          assert.equal(r.connected, false);
          assert.equal(r.failed, true, 'a client-side failure');
          assert.deepEqual(serverErrors(r), []);
          assert.ok(server.logLines().some((l) => l.fault === action), 'the fault is logged');
        }));
    }
  }

  for (const [stage, after] of [['connect'], ['prelogin'], ['login'], ['query'], ['rows', 3]]) {
    it(`waits at ${stage}, then goes on`, () =>
      withFaults([{ stage, action: 'delay', ms: DELAY_MS, after }], async (server) => {
        const r = await client.run(server.port, 'sa', 'Secreto.1', [LIST]);
        assert.equal(r.connected, true);
        assert.equal(r.failed, false, String(r.error || r.stderr));
        assert.equal(r.rows.length, 7);
        assert.ok(r.elapsedMs >= DELAY_MS, `took ${r.elapsedMs} ms`);
      }));
  }

  for (const action of ['close', 'garbage']) {
    it(`loses the query when the server does "${action}" on it`, () =>
      withFaults([{ stage: 'query', action }], async (server) => {
        const r = await client.run(server.port, 'sa', 'Secreto.1', [LIST]);
        // tedious sends a batch of SET statements while it connects, so it
        // meets the fault before it counts as connected; tsql after.
        assert.equal(r.failed, true);
        assert.deepEqual(r.rows, []);
        assert.deepEqual(serverErrors(r), []);
      }));

    it(`gets at most the first rows when the server does "${action}" after 2 rows`, () =>
      withFaults([{ stage: 'rows', action, after: 2 }], async (server) => {
        const r = await client.run(server.port, 'sa', 'Secreto.1', [LIST]);
        assert.equal(r.connected, true);
        assert.equal(r.failed, true);
        assert.ok(r.rows.length <= 2, `${r.rows.length} rows`);
        assert.deepEqual(r.rows, [['master'], ['tempdb']].slice(0, r.rows.length));
      }));
  }

  it('carries out a drop whose answer it loses, then closes the connection', () =>
    withFaults([{ stage: 'query', action: 'loseAnswer', statement: 'DROP' }], async (server) => {
      const r = await client.run(server.port, 'sa', 'Secreto.1', ['DROP DATABASE [Ventas]', LIST]);
      assert.equal(r.failed, true, 'the client sees the connection end');
      assert.deepEqual(r.rows, []);
      assert.deepEqual(serverErrors(r), []);
      assert.deepEqual(server.readState().databases.map((d) => d.name), ['Compras', 'Nóminas 2024']);
      assert.ok(server.logLines().some((l) => l.fault === 'loseAnswer'), 'the fault is logged');
    }));

  it('touches only the connections of the login a fault names', () =>
    withFaults([{ stage: 'login', action: 'close', login: 'LECTOR' }], async (server) => {
      const other = await client.run(server.port, 'sa', 'Secreto.1', ['SELECT 1']);
      assert.equal(other.connected, true);
      assert.deepEqual(other.rows, [['1']]);
      const named = await client.run(server.port, 'lector', 'lector', ['SELECT 1']);
      assert.equal(named.connected, false);
      assert.equal(named.failed, true);
    }));
});
