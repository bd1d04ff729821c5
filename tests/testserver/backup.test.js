// BACKUP DATABASE and RESTORE through a real client (tsql or tedious, by
// the CLIENT environment variable): the messages in the order the server
// sends them, the refusals of each edition, right and fault, the backup
// file, and a dropped database brought back.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Server, defaultState } = require('./harness');
const { CLIENTS } = require('./clients');

const client = CLIENTS[process.env.CLIENT];
if (!client) throw new Error('CLIENT must be one of ' + Object.keys(CLIENTS).join(', '));

const SA = ['sa', 'Secreto.1'];

// A server whose backups go to a folder of its own.
async function serverWith(extra) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvelo-ts-'));
  const folder = path.join(dir, 'copias');
  fs.mkdirSync(folder);
  const server = new Server({ ...defaultState(), version: '15.0.2000.5', backupFolder: folder, ...extra }, dir);
  await server.start();
  server.folder = folder;
  return server;
}

async function stop(server) {
  await server.stop();
  server.cleanup();
}

// What the statements said: the login's own messages (5701, 5703, which
// tedious reports with the rest) and SET LANGUAGE's left out.
function said(r) {
  return r.messages.filter((m) => m.number !== 5701 && m.number !== 5703);
}

function numbers(r) {
  return said(r).map((m) => m.number);
}

function setsIn(file) {
  return JSON.parse(fs.readFileSync(file, 'utf8')).sets;
}

describe(`${client.name}: backup and restore`, () => {
  const ventas = {
    name: 'Ventas',
    owner: 'lector',
    singleUser: true,
    dbOwners: ['lector'],
    files: [{ name: 'V', physical: '/d/V.mdf', state: 'ONLINE', size: 40 }, { name: 'V_log', physical: '/d/V_log.ldf', state: 'ONLINE', size: 8 }],
  };

  it('tells its progress, then its pages, in order; a restore brings a dropped database back as it was', async () => {
    const server = await serverWith({ databases: [ventas, { name: 'Compras' }] });
    try {
      const file = path.join(server.folder, 'final.bak');
      const r = await client.run(server.port, ...SA, [
        "BACKUP DATABASE [Ventas] TO DISK = N'final.bak' WITH COPY_ONLY, CHECKSUM, NOINIT, NAME = N'Tarvelo 1', STATS = 25",
        'DROP DATABASE [Ventas]',
      ]);
      assert.equal(r.failed, false, String(r.error || r.stderr));
      assert.deepEqual(numbers(r), [3211, 3211, 3211, 3211, 4035, 4035, 3014]);
      assert.deepEqual(said(r).slice(0, 4).map((m) => m.text), ['25', '50', '75', '100'].map((p) => `${p} percent processed.`));
      assert.equal(said(r)[4].text, "Processed 40 pages for database 'Ventas', file 'V' on file 1.");
      assert.equal(said(r)[5].text, "Processed 2 pages for database 'Ventas', file 'V_log' on file 1.");
      assert.match(said(r)[6].text, /^BACKUP DATABASE successfully processed 42 pages in \d+\.\d{3} seconds \(\d+\.\d{3} MB\/sec\)\.$/);
      assert.deepEqual(server.databaseNames(), ['Compras']);
      assert.equal(server.readState().backupHistory[0].device, file, 'msdb keeps the history of a dropped database');

      const restored = await client.run(server.port, ...SA, [`RESTORE DATABASE [Ventas] FROM DISK = N'${file}'`]);
      assert.deepEqual(numbers(restored), [4035, 4035, 3014]);
      assert.match(said(restored)[2].text, /^RESTORE DATABASE successfully processed 42 pages/);
      assert.deepEqual(server.readState().databases[1], ventas);
      // A second backup to the same file is appended as set 2.
      const again = await client.run(server.port, ...SA, [
        "BACKUP DATABASE [Ventas] TO DISK = N'final.bak' WITH NOINIT",
        `RESTORE HEADERONLY FROM DISK = N'${file}'`,
      ]);
      assert.deepEqual(numbers(again), [4035, 4035, 3014]);
      const header = again.columns[0];
      const rows = again.rows.map((row) => Object.fromEntries(header.map((c, i) => [c, row[i]])));
      assert.deepEqual(rows.map((h) => [h.Position, h.BackupName, h.DatabaseName, h.IsCopyOnly, h.IsSingleUser].map(String)), [
        ['1', 'Tarvelo 1', 'Ventas', client.name === 'tsql' ? '1' : 'true', client.name === 'tsql' ? '1' : 'true'],
        ['2', client.name === 'tsql' ? 'NULL' : 'null', 'Ventas', client.name === 'tsql' ? '0' : 'false', client.name === 'tsql' ? '1' : 'true'],
      ]);
      assert.deepEqual(setsIn(file).map((s) => [s.position, s.complete]), [[1, true], [2, true]]);
    } finally {
      await stop(server);
    }
  });

  it('speaks Spanish to a Spanish session', async () => {
    const server = await serverWith({});
    try {
      const r = await client.run(server.port, ...SA, ['SET LANGUAGE Spanish', "BACKUP DATABASE [Compras] TO DISK = N'c.bak' WITH STATS = 50"]);
      assert.deepEqual(
        said(r).map((m) => m.text.replace(/[\d.]+ segundos \([\d.]+ MB\/s\)/, 'T')),
        [
          '50por ciento procesado.',
          '100por ciento procesado.',
          "Se han procesado 1024 páginas para la base de datos 'Compras', archivo 'Compras' en el archivo 1.",
          "Se han procesado 2 páginas para la base de datos 'Compras', archivo 'Compras_log' en el archivo 1.",
          'BACKUP DATABASE procesó correctamente 1026 páginas en T.',
        ],
      );
    } finally {
      await stop(server);
    }
  });

  describe('refusals and faults', () => {
    let server;
    before(async () => {
      server = await serverWith({
        databases: [
          { name: 'Ventas' },
          { name: 'Llena', backupFault: { kind: 'diskFull', atPercent: 40 } },
          { name: 'Dañada', backupFault: { kind: 'damagedPage', atPercent: 50 }, files: [{ name: 'D', physical: '/d/D.mdf', size: 8 }] },
          { name: 'Cerrada', backupFault: { kind: 'accessDenied' } },
          { name: 'Apagada', state: 'OFFLINE' },
        ],
      });
    });
    after(() => stop(server));

    const cases = [
      // [what, login, statement, numbers, the first message's text, the file left behind]
      ['a database that does not exist', SA, "BACKUP DATABASE [Nadie] TO DISK = N'n.bak'", [911, 3013]],
      ['an offline database', SA, "BACKUP DATABASE [Apagada] TO DISK = N'a.bak'", [942, 3013], "Database 'Apagada' cannot be opened because it is offline."],
      ['a login without the right', ['lector', 'lector'], "BACKUP DATABASE [Ventas] TO DISK = N'v.bak'", [262, 3013], "BACKUP DATABASE permission denied in database 'Ventas'."],
      [
        'a folder that does not exist',
        SA,
        "BACKUP DATABASE [Ventas] TO DISK = N'/no/existe/v.bak'",
        [3201, 3013],
        "Cannot open backup device '/no/existe/v.bak'. Operating system error 2(The system cannot find the file specified.).",
      ],
      ['a device name over 259 characters', SA, `BACKUP DATABASE [Ventas] TO DISK = N'/${'v'.repeat(259)}'`, [3057, 3013]],
      ['a device that refuses access', SA, "BACKUP DATABASE [Cerrada] TO DISK = N'c.bak'", [3201, 3013], null, 'c.bak', null],
      ['a disk that fills up at 40 %', SA, "BACKUP DATABASE [Llena] TO DISK = N'l.bak' WITH STATS = 10", [3211, 3211, 3211, 3202, 3013], null, 'l.bak', false],
      ['a damaged page found by CHECKSUM', SA, "BACKUP DATABASE [Dañada] TO DISK = N'd.bak' WITH CHECKSUM", [3043, 3013], "BACKUP 'Dañada' detected an error on page (1:153) in file '/d/D.mdf'.", 'd.bak', false],
      ['a damaged page without CHECKSUM', SA, "BACKUP DATABASE [Dañada] TO DISK = N'd2.bak'", [4035, 3014], null, 'd2.bak', true],
      ['VERIFYONLY without the right to create a database', ['lector', 'lector'], "RESTORE VERIFYONLY FROM DISK = N'd2.bak'", [262, 3013], "CREATE DATABASE permission denied in database 'master'."],
      ['VERIFYONLY of an incomplete set', SA, "RESTORE VERIFYONLY FROM DISK = N'l.bak' WITH FILE = 1", [3256, 3013]],
      ['VERIFYONLY of a set that is not there', SA, "RESTORE VERIFYONLY FROM DISK = N'd2.bak' WITH FILE = 2", [4038, 3013]],
      ['VERIFYONLY of a valid set', SA, "RESTORE VERIFYONLY FROM DISK = N'd2.bak'", [3262], 'The backup set on file 1 is valid.'],
    ];
    for (const [what, login, statement, expected, text, file, complete] of cases) {
      it(`answers ${what}`, async () => {
        const r = await client.run(server.port, ...login, [statement]);
        assert.equal(r.failed, false, String(r.error || r.stderr));
        assert.deepEqual(numbers(r), expected, JSON.stringify(said(r)));
        if (text) assert.equal(said(r)[0].text, text);
        if (expected.at(-1) === 3013) {
          assert.match(said(r).at(-1).text, /^(BACKUP DATABASE|VERIFY DATABASE) is terminating abnormally\.$/);
        }
        if (file) {
          const where = path.join(server.folder, file);
          if (complete === null) assert.equal(fs.existsSync(where), false, 'nothing written');
          else assert.deepEqual(setsIn(where).map((s) => s.complete), [complete]);
        }
      });
    }
  });

  for (const [edition, statement, expected] of [
    ['Azure SQL Database', "BACKUP DATABASE [Ventas] TO DISK = N'v.bak'", [40510]],
    ['Azure SQL Managed Instance', "BACKUP DATABASE [Ventas] TO DISK = N'v.bak' WITH COPY_ONLY", [40510]],
    ['Express', "BACKUP DATABASE [Ventas] TO DISK = N'v.bak' WITH COMPRESSION", [1844, 3013]],
    ['Web', "BACKUP DATABASE [Ventas] TO DISK = N'v.bak' WITH COMPRESSION", [1844, 3013]],
    ['Standard', "BACKUP DATABASE [Ventas] TO DISK = N'v.bak' WITH COMPRESSION", [4035, 4035, 3014]],
  ]) {
    it(`${edition} answers ${statement.includes('WITH') ? statement.slice(statement.indexOf('WITH')) : 'a backup'} with ${expected.join(', ')}`, async () => {
      const server = await serverWith({ edition });
      try {
        const r = await client.run(server.port, ...SA, [statement]);
        assert.deepEqual(numbers(r), expected, JSON.stringify(said(r)));
        if (expected[0] === 1844) assert.equal(said(r)[0].text, `BACKUP DATABASE WITH COMPRESSION is not supported on ${edition} Edition (64-bit).`);
        if (expected[0] === 40510) assert.equal(said(r)[0].text, "Statement 'BACKUP DATABASE' is not supported in this version of SQL Server.");
      } finally {
        await stop(server);
      }
    });
  }
});
