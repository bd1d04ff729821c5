// The two independent TDS clients the test server is checked against,
// behind one shape: run(port, user, password, batches) opens one
// connection, sends each batch, and reports what the client saw.
//   { connected, columns: [[names]], rows: [[values as text]], messages:
//     [{number, severity, state, text}], failed: a client-side failure
//     (connection lost, unreadable reply), elapsedMs }
'use strict';
const { spawn, spawnSync } = require('node:child_process');
const { Worker, isMainThread, parentPort, workerData } = require('node:worker_threads');

const TDS_VERSION = '7.3';

// FreeTDS takes its encryption setting from freetds.conf; a file of our own
// (FREETDSCONF) sets it for one run without touching the machine's.
// `caFile`: the certificate to trust, which strict encryption always checks.
function freetdsConf(encryption, caFile) {
  if (!encryption) return {};
  const fs = require('node:fs');
  const os = require('node:os');
  const path = require('node:path');
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tarvelo-ftds-')), 'freetds.conf');
  const trust = caFile ? `\tca file = ${caFile}\n` : '';
  fs.writeFileSync(file, `[global]\n\tencryption = ${encryption}\n${trust}`);
  return { FREETDSCONF: file };
}

function asText(v) {
  if (v === null || v === undefined) return null;
  return String(v);
}

const tsqlClient = {
  name: 'tsql',
  // Why strict encryption cannot be tried, or false when it can.
  strictUnsupported() {
    const version = /freetds v(\d+)\.(\d+)/.exec(spawnSync('tsql', ['-C'], { encoding: 'utf8' }).stdout || '');
    if (version && (Number(version[1]) > 1 || Number(version[2]) >= 5)) return false;
    return `FreeTDS ${version ? version[1] + '.' + version[2] : '(unknown)'} has no strict encryption; it needs 1.5`;
  },
  // `encryption`: FreeTDS's setting ("strict", "require", "request", "off").
  async run(port, user, password, batches, { integrated = false, encryption, caFile } = {}) {
    const started = Date.now();
    // FreeTDS logs in with Windows authentication for DOMAIN\\user names.
    if (integrated) user = 'DOMINIO\\' + user;
    const input = batches.map((b) => b + '\ngo\n').join('') + 'exit\n';
    const r = spawnSync('tsql', ['-H', '127.0.0.1', '-p', String(port), '-U', user, '-P', password, '-o', 'q'], {
      input,
      encoding: 'utf8',
      timeout: 30000,
      env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8', TDSVER: TDS_VERSION, ...freetdsConf(encryption, caFile) },
    });
    const messages = [];
    const re = /Msg (\d+) \(severity (\d+), state (\d+)\) from [^\n]*:\n\t"([^\n]*)"/g;
    let m;
    while ((m = re.exec(r.stderr))) {
      messages.push({ number: Number(m[1]), severity: Number(m[2]), state: Number(m[3]), text: m[4] });
    }
    const lines = r.stdout.split('\n');
    if (lines[lines.length - 1] === '') lines.pop();
    const connected = !/There was a problem connecting to the server/.test(r.stderr);
    return {
      connected,
      columns: lines.length ? [lines[0].split('\t')] : [],
      rows: lines.slice(1).map((l) => l.split('\t')),
      messages,
      // tsql reports a lost or garbled connection as a DB-Library error 200xx;
      // a refusal by the server comes with the server's own message.
      failed: r.signal !== null || (/Error 200\d\d/.test(r.stderr) && !messages.some((m) => m.severity > 10)),
      stderr: r.stderr,
      elapsedMs: Date.now() - started,
    };
  },
  // Holds a connection open after running `sql`, until release().
  async hold(server, user, password, sql) {
    const child = spawn('tsql', ['-H', '127.0.0.1', '-p', String(server.port), '-U', user, '-P', password, '-o', 'q'], {
      stdio: ['pipe', 'ignore', 'ignore'],
      env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8', TDSVER: TDS_VERSION },
    });
    child.stdin.write(sql + '\ngo\n');
    await waitFor(() => server.logLines().some((l) => l.request === 'batch' && l.statement.trim() === sql), 10000);
    return {
      release: () =>
        new Promise((resolve) => {
          child.once('exit', resolve);
          child.stdin.end('exit\n');
        }),
    };
  },
};

function tediousConnection(port, user, password, timeoutMs, integrated, tdsVersion, encryption, caFile) {
  const { Connection } = require('tedious');
  return new Connection({
    server: '127.0.0.1',
    authentication: integrated
      ? { type: 'ntlm', options: { userName: user, password, domain: 'DOMINIO' } }
      : { type: 'default', options: { userName: user, password } },
    options: {
      port,
      // tedious offers no encryption at all unless told to require it.
      encrypt: encryption === 'strict' ? 'strict' : encryption === 'require',
      trustServerCertificate: true,
      // Strict encryption checks the certificate whatever the setting above.
      ...(caFile ? { cryptoCredentialsDetails: { ca: require('node:fs').readFileSync(caFile) } } : {}),
      connectTimeout: timeoutMs,
      requestTimeout: timeoutMs,
      useColumnNames: false,
      ...(tdsVersion ? { tdsVersion } : {}),
    },
  });
}

// An error the server sent (a statement refused), as tedious reports it:
// one, or several together (BACKUP's cause and its 3013) as an AggregateError.
function serverRefusal(err) {
  if (err.name === 'AggregateError' && Array.isArray(err.errors)) return err.errors.every(serverRefusal);
  return err.code === 'EREQUEST' && Boolean(err.number);
}

// One tedious connection, run in a worker thread: tedious throws some
// protocol errors from inside its stream parser, where nothing can catch
// them, and a test must see those as a failed client, not crash itself.
async function runTediousHere({ port, user, password, batches, integrated, timeoutMs, tdsVersion, encryption, caFile }, report) {
  const { Request } = require('tedious');
  const started = Date.now();
  const result = { connected: false, columns: [], rows: [], messages: [], failed: false, error: null };
  const update = () => report({ ...result, error: result.error && String(result.error), elapsedMs: Date.now() - started });
  const conn = tediousConnection(port, user, password, timeoutMs, integrated, tdsVersion, encryption, caFile);
  const record = (m) => {
    if (m.number !== undefined) result.messages.push({ number: m.number, severity: m.class, state: m.state, text: m.message });
    update();
  };
  conn.on('infoMessage', record);
  conn.on('errorMessage', record);
  conn.on('error', (e) => {
    result.failed = true;
    result.error = result.error || e;
    update();
  });
  await new Promise((resolve) => {
    conn.connect((err) => {
      if (err) {
        result.error = err;
        // Refusals by the server come as messages; anything else is the client's.
        if (!result.messages.some((m) => m.severity > 10)) result.failed = true;
      } else {
        result.connected = true;
      }
      update();
      resolve();
    });
  });
  if (result.connected) {
    for (const sql of batches) {
      const ok = await new Promise((resolve) => {
        const req = new Request(sql, (err) => {
          if (err && !serverRefusal(err)) {
            result.failed = true;
            result.error = result.error || err;
            resolve(false);
            return;
          }
          resolve(true);
        });
        req.on('columnMetadata', (cols) => result.columns.push(cols.map((c) => c.colName)));
        req.on('row', (cols) => {
          result.rows.push(cols.map((c) => asText(c.value)));
          update();
        });
        conn.execSqlBatch(req);
      });
      update();
      if (!ok) break;
    }
  }
  await new Promise((resolve) => {
    if (conn.closed) return resolve();
    conn.once('end', resolve);
    conn.close();
  });
  update();
}

const tediousClient = {
  name: 'tedious',
  run(port, user, password, batches, { integrated = false, timeoutMs = 15000, tdsVersion, encryption, caFile } = {}) {
    return new Promise((resolve) => {
      const worker = new Worker(__filename, {
        workerData: { tediousRun: { port, user, password, batches, integrated, timeoutMs, tdsVersion, encryption, caFile } },
      });
      let last = { connected: false, columns: [], rows: [], messages: [], failed: false, error: null, elapsedMs: 0 };
      let crash = null; // may arrive before the worker's last messages
      worker.on('message', (r) => {
        last = r;
      });
      worker.on('error', (e) => {
        crash = e;
      });
      worker.on('exit', () =>
        resolve(crash ? { ...last, failed: true, error: last.error || String(crash) } : last),
      );
    });
  },
  async hold(server, user, password, sql) {
    const { Request } = require('tedious');
    const conn = tediousConnection(server.port, user, password, 15000, false);
    await new Promise((resolve, reject) => conn.connect((err) => (err ? reject(err) : resolve())));
    await new Promise((resolve, reject) => conn.execSqlBatch(new Request(sql, (err) => (err ? reject(err) : resolve()))));
    return {
      release: () =>
        new Promise((resolve) => {
          conn.once('end', resolve);
          conn.close();
        }),
    };
  },
};

async function waitFor(check, timeoutMs) {
  const until = Date.now() + timeoutMs;
  while (!check()) {
    if (Date.now() > until) throw new Error('timed out waiting');
    await new Promise((r) => setTimeout(r, 20));
  }
}

const CLIENTS = { tsql: tsqlClient, tedious: tediousClient };

if (!isMainThread && workerData && workerData.tediousRun) {
  runTediousHere(workerData.tediousRun, (r) => parentPort.postMessage(r));
}

module.exports = { CLIENTS, waitFor };
