// Malformed input from a client: the server closes that connection, logs
// one line, and goes on serving everybody else.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const net = require('node:net');
const { startServer } = require('./harness');
const { CLIENTS, waitFor } = require('./clients');

function header(type, status, length) {
  return Buffer.from([type, status, length >> 8, length & 0xff, 0, 0, 1, 0]);
}

function packet(type, body, status = 1) {
  return Buffer.concat([header(type, status, body.length + 8), body]);
}

const PRELOGIN_OK = packet(18, Buffer.from([0, 0, 6, 0, 6, 0xff, 9, 0, 0, 0, 0, 0]));
// A PRELOGIN that offers encryption of the login packet: TLS must follow.
const PRELOGIN_TLS = packet(18, Buffer.from([0, 0, 11, 0, 6, 1, 0, 17, 0, 1, 0xff, 9, 0, 0, 0, 0, 0, 0]));

// A LOGIN7 that claims more bytes than it holds.
function truncatedLogin() {
  const body = Buffer.alloc(60);
  body.writeUInt32LE(200, 0);
  body.writeUInt32LE(0x74000004, 4);
  return packet(16, body);
}

// Sends `chunks` and resolves when the server closes the connection.
function sendAndWaitClose(port, chunks) {
  return new Promise((resolve, reject) => {
    const sock = net.connect(port, '127.0.0.1');
    const timer = setTimeout(() => {
      sock.destroy();
      reject(new Error('the server kept the connection open'));
    }, 5000);
    sock.on('error', () => {}); // a reset is one way of closing
    sock.resume(); // read whatever comes, so that the end of the stream is seen
    sock.on('close', () => {
      clearTimeout(timer);
      resolve();
    });
    sock.on('connect', async () => {
      for (const c of chunks) {
        if (typeof c === 'function') c(sock);
        else if (!sock.destroyed) sock.write(c);
        await new Promise((r) => setImmediate(r));
      }
    });
  });
}

const CASES = [
  ['an unknown packet type', [packet(0x55, Buffer.from('hola'))]],
  ['a packet length below its header', [Buffer.from([18, 1, 0, 4, 0, 0, 0, 0])]],
  ['a packet length above the largest packet', [Buffer.from([18, 1, 0xff, 0xff, 0, 0, 0, 0])]],
  ['a connection closed inside a packet', [header(18, 1, 100), Buffer.alloc(20), (s) => s.end()]],
  ['a PRELOGIN without its terminator', [packet(18, Buffer.from([0, 0, 200, 0, 6]))]],
  ['a truncated LOGIN7', [PRELOGIN_OK, truncatedLogin()]],
  ['a LOGIN7 in clear after TLS was agreed', [PRELOGIN_TLS, truncatedLogin()]],
  ['a SQL batch before the login', [PRELOGIN_OK, packet(1, Buffer.from('S\0E\0L\0'))]],
  ['a change of packet type inside a message', [packet(18, Buffer.alloc(10), 0), packet(16, Buffer.alloc(10))]],
  [
    'a request over 4 MiB',
    [
      (sock) => {
        const chunk = packet(18, Buffer.alloc(32000), 0);
        for (let i = 0; i < 140; i++) sock.write(chunk);
      },
    ],
  ],
];

describe('bad input from clients', () => {
  let server;
  let holder;
  before(async () => {
    server = await startServer();
    // A session that stays connected throughout, holding Compras in use.
    holder = await CLIENTS.tsql.hold(server, 'sa', 'Secreto.1', 'USE Compras');
  });
  after(async () => {
    await holder.release();
    await server.stop();
    server.cleanup();
  });

  for (const [what, chunks] of CASES) {
    it(`closes the connection on ${what}, with one log line`, async () => {
      const bad = () => server.logLines().filter((l) => l.request === 'bad').length;
      const before = bad();
      await sendAndWaitClose(server.port, chunks);
      await waitFor(() => bad() > before, 3000);
      assert.equal(bad(), before + 1);
    });
  }

  it('kept serving the other sessions meanwhile', async () => {
    const r = await CLIENTS.tsql.run(server.port, 'sa', 'Secreto.1', ['DROP DATABASE Compras', 'SELECT 1']);
    assert.equal(r.connected, true);
    assert.deepEqual(r.messages.filter((m) => m.severity > 10).map((m) => m.number), [3702]);
  });
});
