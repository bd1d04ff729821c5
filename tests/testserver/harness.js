// Starts the test server for the client tests (tsql, tedious) on a free
// port with a state file of its own, and stops it afterwards.
'use strict';
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const BIN = process.env.TARVELO_TESTSERVER;
if (!BIN) {
  throw new Error('TARVELO_TESTSERVER must name the tarvelo-testserver binary');
}

function defaultState() {
  return {
    version: '10.50.6000.34',
    logins: [
      { name: 'sa', password: 'Secreto.1', sysadmin: true },
      { name: 'lector', password: 'lector', sysadmin: false, deny: ['sysdatabases'] },
    ],
    databases: [{ name: 'Ventas' }, { name: 'Compras' }, { name: 'Nóminas 2024', inUse: true }],
  };
}

// Names that must round-trip exactly: blanks, brackets, quotes, semicolons,
// non-ASCII letters, and the longest name SQL Server allows.
const ODD_NAMES = [
  'con ] corchete',
  "comilla ' simple",
  'comilla " doble',
  'punto; y coma',
  'Ñandú €uro ü',
  '[entre corchetes]',
  'x'.repeat(127) + 'Z',
];

// Servers still running when this process ends, for whatever reason, are
// killed with it rather than left behind.
const running = new Set();
process.on('exit', () => {
  for (const child of running) child.kill('SIGKILL');
});

class Server {
  constructor(state, dir) {
    this.dir = dir || fs.mkdtempSync(path.join(os.tmpdir(), 'tarvelo-ts-'));
    this.statePath = path.join(this.dir, 'state.json');
    this.logPath = path.join(this.dir, 'requests.jsonl');
    if (state !== undefined) {
      this.writeState(state);
    }
    this.port = 0;
    this.child = null;
  }

  writeState(state) {
    fs.writeFileSync(this.statePath, typeof state === 'string' ? state : JSON.stringify(state));
  }

  readState() {
    return JSON.parse(fs.readFileSync(this.statePath, 'utf8'));
  }

  databaseNames() {
    return this.readState().databases.map((d) => d.name);
  }

  logLines() {
    if (!fs.existsSync(this.logPath)) return [];
    return fs.readFileSync(this.logPath, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
  }

  start(port = 0) {
    return new Promise((resolve, reject) => {
      const child = spawn(BIN, ['--state', this.statePath, '--port', String(port), '--log', this.logPath], {
        stdio: ['ignore', 'pipe', 'pipe'],
      });
      this.child = child;
      running.add(child);
      child.once('exit', () => running.delete(child));
      let out = '';
      let err = '';
      const timer = setTimeout(() => reject(new Error('server did not start: ' + err)), 10000);
      child.stdout.on('data', (d) => {
        out += d;
        const m = /^listening on 127\.0\.0\.1:(\d+)\n/.exec(out);
        if (m) {
          clearTimeout(timer);
          this.port = Number(m[1]);
          resolve(this);
        }
      });
      child.stderr.on('data', (d) => {
        err += d;
      });
      child.on('exit', (code) => {
        clearTimeout(timer);
        this.exitCode = code;
        this.stderr = err;
        reject(new Error(`server exited with ${code}: ${err.trim()}`));
      });
    });
  }

  stop() {
    const child = this.child;
    this.child = null;
    if (!child || child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
    return new Promise((resolve) => {
      const kill = setTimeout(() => child.kill('SIGKILL'), 5000);
      child.once('exit', () => {
        clearTimeout(kill);
        resolve();
      });
      child.kill('SIGTERM');
    });
  }

  async restart() {
    const port = this.port;
    await this.stop();
    await this.start(port);
  }

  cleanup() {
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

async function startServer(state = defaultState()) {
  const s = new Server(state);
  await s.start();
  return s;
}

// Runs tsql with `batches` (each ended by "go") and returns its output:
// the rows of every result (tab-separated lines, header first) and the
// server messages it printed.
function tsql(port, user, password, batches, extraArgs = []) {
  const input = batches.map((b) => b + '\ngo\n').join('') + 'exit\n';
  const r = spawnSync('tsql', ['-H', '127.0.0.1', '-p', String(port), '-U', user, '-P', password, '-o', 'q', ...extraArgs], {
    input,
    encoding: 'utf8',
    timeout: 20000,
    env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8', TDSVER: process.env.TDSVER || '7.3' },
  });
  const messages = [];
  const re = /Msg (\d+) \(severity (\d+), state (\d+)\) from (\S+)[^\n]*:\n\t"([^\n]*)"/g;
  let m;
  while ((m = re.exec(r.stderr))) {
    messages.push({ number: Number(m[1]), severity: Number(m[2]), state: Number(m[3]), server: m[4], text: m[5] });
  }
  return {
    status: r.status,
    signal: r.signal,
    stdout: r.stdout,
    stderr: r.stderr,
    lines: r.stdout.split('\n').filter((l) => l.length > 0),
    messages,
    connected: !/There was a problem connecting to the server/.test(r.stderr),
  };
}

module.exports = { startServer, Server, defaultState, tsql, ODD_NAMES, BIN };
