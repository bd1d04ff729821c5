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

it('sends bit, uniqueidentifier, datetime and real columns, and their NULLs, as tedious reads them', async () => {
  const state = defaultState();
  state.version = '15.0.2000.5';
  state.databases = [
    { name: 'Ventas', backups: [{ finished: '2026-11-30T22:15:03.5', type: 'D', device: '/b/V.bak' }], mirrored: true, running: { command: 'BACKUP DATABASE', percent: 42.5 } },
    { name: 'Foto', snapshotOf: 'Ventas' },
  ];
  const server = await startServer(state);
  try {
    const conn = await connect(server.port);
    const cases = [
      ["SELECT is_read_only, is_published, replica_id FROM sys.databases WHERE database_id = DB_ID(N'Foto')", [true, false, null]],
      ["SELECT mirroring_guid FROM sys.database_mirroring WHERE database_id = DB_ID(N'Foto')", [null]],
      ["SELECT backup_finish_date, media_set_id FROM msdb.dbo.backupset WHERE database_name = N'Ventas'", [new Date(Date.UTC(2026, 10, 30, 22, 15, 3, 500)), 1]],
      ["SELECT command, percent_complete FROM sys.dm_exec_requests WHERE database_id = DB_ID(N'Ventas')", ['BACKUP DATABASE', 42.5]],
    ];
    for (const [sql, expected] of cases) {
      const r = await query(conn, sql);
      assert.equal(r.err, undefined, sql);
      assert.deepEqual(r.rows, [expected], sql);
    }
    const mirrored = await query(conn, "SELECT mirroring_guid FROM sys.database_mirroring WHERE database_id = DB_ID(N'Ventas')");
    const guid = mirrored.rows[0][0];
    assert.match(guid, /^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/);
    const again = await query(conn, `SELECT database_id FROM sys.database_mirroring WHERE mirroring_guid = '${guid.toLowerCase()}'`);
    assert.deepEqual(again.rows, [[5]], 'the GUID reads back as it was sent');
    await close(conn);
  } finally {
    await server.stop();
    server.cleanup();
  }
});
