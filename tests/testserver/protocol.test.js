// Parts of the protocol the everyday cases do not reach, through tedious:
// small negotiated packets both ways, a cancel (ATTENTION), and statements
// sent the way tedious sends them by default (RPC calls of sp_executesql).
'use strict';
const { it } = require('node:test');
const assert = require('node:assert/strict');
const { Connection, Request, TYPES } = require('tedious');
const { startServer, defaultState } = require('./harness');

function connect(port, options = {}) {
  const conn = new Connection({
    server: '127.0.0.1',
    authentication: { type: 'default', options: { userName: 'sa', password: 'Secreto.1' } },
    options: { port, encrypt: false, trustServerCertificate: true, ...options },
  });
  return new Promise((resolve, reject) => conn.connect((err) => (err ? reject(err) : resolve(conn))));
}

function query(conn, sql, onRequest = () => {}, { rpc = false, params = [] } = {}) {
  return new Promise((resolve) => {
    const rows = [];
    const req = new Request(sql, (err) => resolve({ err, rows }));
    for (const [name, type, value] of params) req.addParameter(name, TYPES[type], value);
    req.on('row', (cols) => rows.push(cols.map((c) => c.value)));
    if (rpc) conn.execSql(req);
    else conn.execSqlBatch(req);
    onRequest(req);
  });
}

function close(conn) {
  return new Promise((resolve) => {
    conn.once('end', resolve);
    conn.close();
  });
}

it('splits requests and answers into packets of the negotiated size', async () => {
  const state = defaultState();
  state.databases = Array.from({ length: 300 }, (_, i) => ({ name: `base ${i} ${'é'.repeat(100)}` }));
  const server = await startServer(state);
  try {
    const conn = await connect(server.port, { packetSize: 512 });
    const comment = '/* ' + 'x'.repeat(3000) + ' */';
    const r = await query(conn, `SELECT name ${comment} FROM master.dbo.sysdatabases ORDER BY name DESC`);
    assert.equal(r.err, undefined);
    assert.equal(r.rows.length, 304);
    assert.equal(r.rows[0][0], 'tempdb');
    await close(conn);
  } finally {
    await server.stop();
    server.cleanup();
  }
});

it('answers a cancel with the attention acknowledgement and goes on', async () => {
  const state = defaultState();
  state.faults = [{ stage: 'query', action: 'delay', ms: 600 }];
  const server = await startServer(state);
  try {
    const conn = await connect(server.port);
    const cancelled = await query(conn, 'SELECT name FROM master.dbo.sysdatabases', () =>
      setTimeout(() => conn.cancel(), 100),
    );
    assert.equal(cancelled.err && cancelled.err.code, 'ECANCEL');
    const after = await query(conn, 'SELECT DB_NAME()');
    assert.equal(after.err, undefined);
    assert.deepEqual(after.rows, [['master']]);
    assert.ok(server.logLines().some((l) => l.request === 'attention'));
    assert.ok(cancelled.rows.length === 0, 'the cancelled query never ran');
    await close(conn);
  } finally {
    await server.stop();
    server.cleanup();
  }
});

it('runs statements sent as sp_executesql, with their parameters, as a batch would', async () => {
  const server = await startServer(defaultState());
  try {
    const conn = await connect(server.port);
    const rpc = { rpc: true };
    const cases = [
      ['SELECT name FROM master.dbo.sysdatabases ORDER BY name', [], 7, ['Compras']],
      ['SELECT DB_ID(@name)', [['name', 'NVarChar', 'Ventas']], 1, [5]],
      ["SELECT DB_NAME(@id), '@id' AS literal", [['id', 'Int', 6]], 1, ['Compras', '@id']],
      ['SELECT DB_ID(@name)', [['name', 'NVarChar', "O'Brien]"]], 1, [null]],
    ];
    for (const [sql, params, count, first] of cases) {
      const r = await query(conn, sql, undefined, { ...rpc, params });
      assert.equal(r.err, undefined, sql);
      assert.equal(r.rows.length, count, sql);
      assert.deepEqual(r.rows[0], first, sql);
    }
    const dropped = await query(conn, 'DROP DATABASE [Ventas]', undefined, rpc);
    assert.equal(dropped.err, undefined);
    assert.ok(!server.readState().databases.some((d) => d.name === 'Ventas'));
    const unknown = await new Promise((resolve) => {
      const req = new Request('sp_who', (err) => resolve(err));
      conn.callProcedure(req);
    });
    assert.equal(unknown && unknown.number, 2812);
    await close(conn);
  } finally {
    await server.stop();
    server.cleanup();
  }
});
