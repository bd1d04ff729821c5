// The server program itself: its arguments, its state file checks, its
// first line, loopback only, and a clean stop on SIGTERM and SIGINT.
'use strict';
const { it } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const net = require('node:net');
const os = require('node:os');
const { Server, BIN, defaultState } = require('./harness');

function run(args) {
  return spawnSync(BIN, args, { encoding: 'utf8', timeout: 10000 });
}

it('refuses a missing, malformed or invalid state file with one line and status 2', () => {
  const s = new Server(undefined);
  try {
    const cases = [
      [[], /--state FILE is required/],
      [['--state', s.statePath], /cannot read the state file/],
      [['--state', s.statePath, '--port', 'x'], /--port/],
      [['--state', s.statePath, '--host', '10.0.0.1'], /--host needs a loopback address/],
      [['--state', s.statePath, '--host', 'localhost'], /--host needs a loopback address/],
      [['--state', s.statePath, '--bogus'], /unknown argument --bogus/],
    ];
    for (const [args, pattern] of cases) {
      const r = run(args);
      assert.equal(r.status, 2, args.join(' '));
      assert.match(r.stderr, pattern);
      assert.equal(r.stderr.trim().split('\n').length, 1);
      assert.equal(r.stdout, '');
    }
    for (const [content, pattern] of [
      ['{"version": ', /not valid JSON/],
      ['[]', /top level/],
      [JSON.stringify({ ...defaultState(), databases: [{ name: 'master' }] }), /system database/],
      [JSON.stringify({ ...defaultState(), faults: [{ stage: 'rows', action: 'explode' }] }), /unknown action/],
      [JSON.stringify({ ...defaultState(), instance: 'A\\B' }), /"instance"/],
      [JSON.stringify({ ...defaultState(), certificate: '/nonexistent.pem', key: '/nonexistent.key' }), /cannot use the certificate/],
    ]) {
      s.writeState(content);
      const r = run(['--state', s.statePath]);
      assert.equal(r.status, 2, content);
      assert.match(r.stderr, pattern);
      assert.equal(r.stderr.trim().split('\n').length, 1);
    }
  } finally {
    s.cleanup();
  }
});

function connects(host, port) {
  return new Promise((resolve) => {
    const sock = net.connect(port, host);
    sock.on('connect', () => {
      sock.destroy();
      resolve(true);
    });
    sock.on('error', () => resolve(false));
  });
}

it('listens on 127.0.0.1 only, and stops cleanly on SIGTERM and SIGINT', async () => {
  const s = new Server(defaultState());
  try {
    for (const signal of ['SIGTERM', 'SIGINT']) {
      await s.start();
      assert.ok(await connects('127.0.0.1', s.port));
      const others = Object.values(os.networkInterfaces())
        .flat()
        .filter((i) => i.family === 'IPv4' && !i.internal);
      for (const i of others) {
        assert.equal(await connects(i.address, s.port), false, `reachable on ${i.address}`);
      }
      const child = s.child;
      const exited = new Promise((resolve) => child.once('exit', (code, sig) => resolve([code, sig])));
      child.kill(signal);
      assert.deepEqual(await exited, [0, null]);
      s.child = null;
    }
  } finally {
    await s.stop();
    s.cleanup();
  }
});
