// Parts of the protocol the everyday cases do not reach, through tedious:
// small negotiated packets both ways, and a cancel (ATTENTION).
'use strict';
const { it } = require('node:test');
const assert = require('node:assert/strict');
const { Connection, Request } = require('tedious');
const { startServer, defaultState } = require('./harness');

function connect(port, options = {}) {
  const conn = new Connection({
    server: '127.0.0.1',
    authentication: { type: 'default', options: { userName: 'sa', password: 'Secreto.1' } },
    options: { port, encrypt: false, trustServerCertificate: true, ...options },
  });
  return new Promise((resolve, reject) => conn.connect((err) => (err ? reject(err) : resolve(conn))));
}

function query(conn, sql, onRequest = () => {}) {
  return new Promise((resolve) => {
    const rows = [];
    const req = new Request(sql, (err) => resolve({ err, rows }));
    req.on('row', (cols) => rows.push(cols.map((c) => c.value)));
    conn.execSqlBatch(req);
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
