// A kill -9 while drops are being written leaves the old or the new state
// file, never a broken one, and the server starts again from it.
'use strict';
const { it } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { Server, defaultState } = require('./harness');

const COUNT = 20000;

it('survives kill -9 in the middle of a run of drops', async () => {
  const state = defaultState();
  const names = Array.from({ length: COUNT }, (_, i) => `base ${String(i).padStart(5, '0')} ${'ñ'.repeat(60)}`);
  state.databases = names.map((name) => ({ name }));
  const server = new Server(state);
  try {
    let remaining = names;
    for (const killAfterMs of [0, 37, 120]) {
      await server.start();
      const drops = remaining.slice(0, 2000).map((n) => `DROP DATABASE [${n}]`).join('\n');
      const tsql = spawn('tsql', ['-H', '127.0.0.1', '-p', String(server.port), '-U', 'sa', '-P', 'Secreto.1', '-o', 'q'], {
        stdio: ['pipe', 'ignore', 'ignore'],
        // tsql sends the names' "ñ" only under a UTF-8 locale.
        env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8', TDSVER: '7.3' },
      });
      const tsqlDone = new Promise((resolve) => tsql.once('exit', resolve));
      tsql.stdin.end(drops + '\ngo\nexit\n');
      // Kill it at some moment after the first drop has reached the file,
      // while the others are being written.
      const original = fs.statSync(server.statePath).mtimeMs;
      const deadline = Date.now() + 20000;
      while (fs.statSync(server.statePath).mtimeMs === original) {
        assert.ok(Date.now() < deadline, 'waited 20 s for the first drop to reach the state file');
        await new Promise((r) => setTimeout(r, 2));
      }
      await new Promise((r) => setTimeout(r, killAfterMs));
      server.child.kill('SIGKILL');
      await new Promise((r) => server.child.once('exit', r));
      server.child = null;
      await tsqlDone;

      const now = server.readState(); // throws on a broken file
      const left = now.databases.map((d) => d.name);
      const dropped = remaining.length - left.length;
      assert.ok(dropped >= 1 && dropped < 2000, `dropped ${dropped}: the kill came mid-way`);
      assert.deepEqual(left, remaining.slice(dropped), 'the file is one of the states in order');
      assert.deepEqual(now.logins, state.logins);
      console.log(`round: ${dropped} drops written before the kill`);
      remaining = left;
      fs.rmSync(server.logPath, { force: true });
    }
    await server.start(); // the state file is valid for the server itself
  } finally {
    await server.stop();
    server.cleanup();
  }
});
