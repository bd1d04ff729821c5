// The test server through a real, independent TDS client: tsql (FreeTDS)
// or tedious (node), chosen by the CLIENT environment variable.
'use strict';
const { describe, it, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const { startServer, defaultState, ODD_NAMES } = require('./harness');
const { CLIENTS } = require('./clients');

const client = CLIENTS[process.env.CLIENT];
if (!client) throw new Error('CLIENT must be one of ' + Object.keys(CLIENTS).join(', '));

const SA = ['sa', 'Secreto.1'];
const SYSTEM = ['master', 'tempdb', 'model', 'msdb'];

function errors(result) {
  return result.messages.filter((m) => m.severity > 10).map((m) => [m.number, m.severity, m.text]);
}

function bracket(name) {
  return '[' + name.replaceAll(']', ']]') + ']';
}

describe(`${client.name} against the test server`, () => {
  let server;
  beforeEach(async () => {
    server = await startServer();
  });
  afterEach(async () => {
    await server.stop();
    server.cleanup();
  });

  it('logs in and reads the product version', async () => {
    const r = await client.run(server.port, ...SA, ["SELECT SERVERPROPERTY('ProductVersion')"]);
    assert.ok(r.connected, r.stderr || String(r.error));
    assert.deepEqual(r.rows, [['10.50.6000.34']]);
    assert.deepEqual(errors(r), []);
    const login = server.logLines().find((l) => l.request === 'login');
    assert.equal(login.login, 'sa');
    assert.ok(!JSON.stringify(server.logLines()).includes('Secreto.1'), 'the log holds no password');
  });

  it('refuses wrong passwords, unknown logins and integrated logins as SQL Server does', async () => {
    const wrong = await client.run(server.port, 'sa', 'secreto.1', ['SELECT 1']);
    assert.equal(wrong.connected, false);
    assert.deepEqual(errors(wrong), [[18456, 14, "Login failed for user 'sa'."]]);

    const unknown = await client.run(server.port, 'nadie', 'x', ['SELECT 1']);
    assert.deepEqual(errors(unknown), [[18456, 14, "Login failed for user 'nadie'."]]);

    const integrated = await client.run(server.port, 'usuario', 'x', ['SELECT 1'], { integrated: true });
    assert.equal(integrated.connected, false);
    assert.deepEqual(errors(integrated), [
      [18452, 14, 'Login failed. The login is from an untrusted domain and cannot be used with Integrated authentication.'],
    ]);
  });

  it('lists every database, system ones first by id, or by name on request', async () => {
    const byId = await client.run(server.port, ...SA, ['SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases']);
    assert.deepEqual(byId.columns, [['DB_NAME']]);
    assert.deepEqual(byId.rows.flat(), [...SYSTEM, 'Ventas', 'Compras', 'Nóminas 2024']);

    const byName = await client.run(server.port, ...SA, ['SELECT name FROM master.dbo.sysdatabases ORDER BY name']);
    assert.deepEqual(byName.rows.flat(), ['Compras', 'master', 'model', 'msdb', 'Nóminas 2024', 'tempdb', 'Ventas']);

    const sysDatabases = await client.run(server.port, ...SA, ['select NAME, database_id from sys.databases order by 2 desc']);
    assert.deepEqual(sysDatabases.columns, [['name', 'database_id']]);
    assert.deepEqual(sysDatabases.rows[0], ['Nóminas 2024', '7']);
    assert.equal(sysDatabases.rows.length, 7);
  });

  it('drops a database and nothing else, durably', async () => {
    const before = server.readState();
    const r = await client.run(server.port, ...SA, ['DROP DATABASE [Ventas]']);
    assert.deepEqual(errors(r), []);
    assert.equal(r.failed, false);
    const after = server.readState();
    assert.deepEqual(after.databases.map((d) => d.name), ['Compras', 'Nóminas 2024']);
    assert.deepEqual(after.logins, before.logins);
    assert.equal(after.version, before.version);

    await server.restart();
    const list = await client.run(server.port, ...SA, ['SELECT name FROM master.dbo.sysdatabases ORDER BY name']);
    assert.deepEqual(list.rows.flat(), ['Compras', 'master', 'model', 'msdb', 'Nóminas 2024', 'tempdb']);
  });

  it('explains every drop it refuses, with SQL Server numbers and texts', async () => {
    const cases = [
      [...SA, 'DROP DATABASE NoExiste', [3701, 11, "Cannot drop the database 'NoExiste', because it does not exist or you do not have permission."]],
      ['lector', 'lector', 'DROP DATABASE Ventas', [3701, 11, "Cannot drop the database 'Ventas', because it does not exist or you do not have permission."]],
      [...SA, 'DROP DATABASE [Nóminas 2024]', [3702, 16, 'Cannot drop database "Nóminas 2024" because it is currently in use.']],
      [...SA, 'DROP DATABASE MSDB', [3708, 16, "Cannot drop the database 'MSDB' because it is a system database."]],
    ];
    for (const [user, password, sql, expected] of cases) {
      const r = await client.run(server.port, user, password, [sql]);
      assert.ok(r.connected);
      assert.deepEqual(errors(r), [expected], sql);
    }
    assert.deepEqual(server.databaseNames(), defaultState().databases.map((d) => d.name));
  });

  // What stands in a real DROP DATABASE's way, one database per condition:
  // the refusal in SQL Server's words, in English and in a Spanish session.
  it('refuses the drops and access changes SQL Server refuses, in English and Spanish', async () => {
    await server.stop();
    const state = defaultState();
    state.version = '15.0.2000.5';
    state.databases = [
      { name: 'Ventas' },
      { name: 'Ventas_foto', snapshotOf: 'Ventas' },
      { name: 'Publicada', replicated: true },
      { name: 'Espejo', mirrored: true },
      { name: 'Grupo', availabilityGroup: { name: 'GA_Ventas', role: 'PRIMARY' } },
      { name: 'Copia', running: { command: 'BACKUP DATABASE', percent: 42.5 } },
      { name: 'Restaurando', state: 'RESTORING' },
      { name: 'Pendiente', state: 'RECOVERY_PENDING' },
    ];
    const plain = { ...state, databases: state.databases.map((d) => ({ ...d })) };
    server.writeState(state);
    await server.start();
    const alterFailed = [5069, 16, 'ALTER DATABASE statement failed.', 'Error de la instrucción ALTER DATABASE.'];
    const cases = [
      ['DROP DATABASE Ventas', [[3709, 16, 'Cannot drop the database while the database snapshot "Ventas_foto" refers to it. Drop that database first.', 'No se puede quitar la base de datos mientras la instantánea de base de datos "Ventas_foto" haga referencia a ella. Quite primero esa base de datos.']]],
      ['DROP DATABASE Publicada', [[3724, 16, "Cannot drop the database 'Publicada' because it is being used for replication.", "No se puede quitar la base de datos 'Publicada' porque se está usando para replicación."]]],
      ['DROP DATABASE Espejo', [[3743, 16, "The database 'Espejo' is enabled for database mirroring. Database mirroring must be removed before you drop the database.", "La base de datos 'Espejo' está habilitada para la creación de reflejo de la base de datos. Debe quitarse la creación de reflejo de la base de datos antes de quitar la base de datos."]]],
      ['DROP DATABASE Grupo', [[3752, 16, "The database 'Grupo' is currently joined to an availability group.  Before you can drop the database, you need to remove it from the availability group.", "La base de datos 'Grupo' está unida actualmente a un grupo de disponibilidad.  Para poder quitar la base de datos, debe quitarla del grupo de disponibilidad."]]],
      ['DROP DATABASE Copia', [[3702, 16, 'Cannot drop database "Copia" because it is currently in use.', 'No se puede quitar la base de datos "Copia" porque está en uso.']]],
      ['DROP DATABASE NoExiste', [[3701, 11, "Cannot drop the database 'NoExiste', because it does not exist or you do not have permission.", "No se puede quitar la base de datos 'NoExiste' porque no existe o no tiene permiso."]]],
      ['DROP DATABASE msdb', [[3708, 16, "Cannot drop the database 'msdb' because it is a system database.", "No se puede quitar la base de datos 'msdb' porque es una base de datos del sistema."]]],
      ['ALTER DATABASE Restaurando SET SINGLE_USER WITH ROLLBACK IMMEDIATE', [[5052, 16, 'ALTER DATABASE is not permitted while a database is in the Restoring state.', 'No se permite ALTER DATABASE mientras una base de datos está en estado Restoring.'], alterFailed]],
      ['ALTER DATABASE Pendiente SET MULTI_USER', [[5052, 16, 'ALTER DATABASE is not permitted while a database is in the Recovery Pending state.', 'No se permite ALTER DATABASE mientras una base de datos está en estado Recovery Pending.'], alterFailed]],
      ['ALTER DATABASE Copia SET RESTRICTED_USER', [[5070, 16, "Database state cannot be changed while other users are using the database 'Copia'", "No se puede cambiar el estado de la base de datos mientras otros usuarios la están usando: 'Copia'."], alterFailed]],
      ['ALTER DATABASE NoExiste SET SINGLE_USER', [[5011, 14, "User does not have permission to alter database 'NoExiste', the database does not exist, or the database is not in a state that allows access checks.", "El usuario no tiene permiso para modificar la base de datos 'NoExiste', la base de datos no existe o la base de datos no está en un estado que permita comprobaciones de acceso."]]],
      ['SELECT name FROM sys.nada', [[208, 16, "Invalid object name 'sys.nada'.", "El nombre de objeto 'sys.nada' no es válido."]]],
      ['SELECT nada FROM sys.databases', [[207, 16, "Invalid column name 'nada'.", "El nombre de columna 'nada' no es válido."]]],
    ];
    for (const [language, setLanguage, column] of [['English', [], 2], ['Spanish', ['SET LANGUAGE Spanish'], 3]]) {
      for (const [sql, expected] of cases) {
        const r = await client.run(server.port, ...SA, [...setLanguage, sql]);
        assert.ok(r.connected, r.stderr || String(r.error));
        assert.deepEqual(errors(r), expected.map((e) => [e[0], e[1], e[column]]), `${language}: ${sql}`);
      }
    }
    assert.deepEqual(server.readState().databases, plain.databases, 'nothing refused changed the state');

    // Log shipping, an offline database and a snapshot itself drop.
    const allowed = await client.run(server.port, ...SA, ['DROP DATABASE Ventas_foto', 'DROP DATABASE Ventas', 'DROP DATABASE Restaurando']);
    assert.deepEqual(errors(allowed), []);
    assert.deepEqual(server.databaseNames(), ['Publicada', 'Espejo', 'Grupo', 'Copia', 'Pendiente']);
  });

  it('lets a waiting session take a database the moment it becomes single-user', async () => {
    await server.stop();
    const state = defaultState();
    state.databases = [{ name: 'Ocupada', running: { command: 'RESTORE DATABASE', percent: 10 }, slotTaker: { login: 'intruso', host: 'PC-X', program: 'Excel' } }];
    server.writeState(state);
    await server.start();
    const r = await client.run(server.port, ...SA, [
      'SET LANGUAGE Español',
      'ALTER DATABASE [Ocupada] SET SINGLE_USER WITH ROLLBACK IMMEDIATE',
      "SELECT loginame, hostname, program_name FROM master.dbo.sysprocesses WHERE dbid = DB_ID(N'Ocupada')",
      'DROP DATABASE [Ocupada]',
      'ALTER DATABASE [Ocupada] SET MULTI_USER',
    ]);
    // tsql keeps the context and language messages to itself; tedious shows them.
    const changes = r.messages.filter((m) => m.number === 5703);
    if (changes.length) assert.equal(changes.at(-1).text, 'Se cambió la configuración de idioma a Español.');
    assert.deepEqual(r.messages.filter((m) => m.number !== 5701 && m.number !== 5703).map((m) => m.number), [5060, 3702, 5064, 5069]);
    assert.deepEqual(errors(r).slice(1), [
      [5064, 16, "No se pueden realizar cambios en el estado o las opciones de la base de datos 'Ocupada' en este momento. La base de datos está en modo de usuario único y hay un usuario conectado a ella."],
      [5069, 16, 'Error de la instrucción ALTER DATABASE.'],
    ]);
    assert.deepEqual(r.rows.at(-1).map((v) => v.trim()), ['intruso', 'PC-X', 'Excel']);
    assert.deepEqual(server.readState().databases, [{ name: 'Ocupada', singleUser: true, sessions: [{ login: 'intruso', host: 'PC-X', program: 'Excel' }] }]);
  });

  it('refuses to drop a database that another client has in use, until it lets go', async () => {
    const holder = await client.hold(server, ...SA, 'USE Compras');
    try {
      const r = await client.run(server.port, ...SA, ['DROP DATABASE Compras']);
      assert.deepEqual(errors(r), [[3702, 16, 'Cannot drop database "Compras" because it is currently in use.']]);
    } finally {
      await holder.release();
    }
    // The server notices the holder's disconnection before the next login.
    let r;
    for (let i = 0; i < 50; i++) {
      r = await client.run(server.port, ...SA, ['DROP DATABASE Compras']);
      if (errors(r).length === 0) break;
      await new Promise((res) => setTimeout(res, 50));
    }
    assert.deepEqual(errors(r), []);
    assert.ok(!server.databaseNames().includes('Compras'));
  });

  it('round-trips names with brackets, quotes, semicolons and non-ASCII letters', async () => {
    await server.stop();
    const state = defaultState();
    state.databases = ODD_NAMES.map((name) => ({ name }));
    server.writeState(state);
    await server.start();

    const list = await client.run(server.port, ...SA, ['SELECT name FROM master.dbo.sysdatabases']);
    assert.deepEqual(list.rows.flat(), [...SYSTEM, ...ODD_NAMES]);

    const drops = ODD_NAMES.map((n, i) => (i % 2 ? 'DROP DATABASE "' + n.replaceAll('"', '""') + '"' : 'DROP DATABASE ' + bracket(n)));
    const r = await client.run(server.port, ...SA, drops);
    assert.deepEqual(errors(r), []);
    assert.deepEqual(server.databaseNames(), []);
  });

  it('denies a catalog view to a login without the right', async () => {
    const r = await client.run(server.port, 'lector', 'lector', ['SELECT name FROM master.dbo.sysdatabases ORDER BY name']);
    assert.deepEqual(errors(r), [
      [229, 14, "The SELECT permission was denied on the object 'sysdatabases', database 'mssqlsystemresource', schema 'sys'."],
    ]);
    assert.deepEqual(r.rows, []);
  });

  it('answers what it does not know with an error, never a silent success', async () => {
    const r = await client.run(server.port, ...SA, ['SELECT name FROM master.dbo.sysobjects', 'SELECT FROM sysdatabases', 'SELECT @@SPID, DB_NAME()']);
    assert.deepEqual(errors(r), [
      [208, 16, "Invalid object name 'master.dbo.sysobjects'."],
      [156, 15, "Incorrect syntax near the keyword 'FROM'."],
    ]);
    assert.deepEqual(r.rows.at(-1), [String(server.logLines().find((l) => l.request === 'login').session), 'master']);
  });

  it('serves several connections at once, each with its own database', async () => {
    const results = await Promise.all(
      ['Ventas', 'Compras', 'master'].map((db) => client.run(server.port, ...SA, [`USE [${db}]`, 'SELECT DB_NAME()'])),
    );
    assert.deepEqual(results.map((r) => r.rows.at(-1)), [['Ventas'], ['Compras'], ['master']]);
  });
  it('drops several names in one statement, reporting only those it cannot drop', async () => {
    const r = await client.run(server.port, ...SA, ['DROP DATABASE Ventas, [NoExiste], "Compras"']);
    assert.deepEqual(errors(r), [[3701, 11, "Cannot drop the database 'NoExiste', because it does not exist or you do not have permission."]]);
    assert.deepEqual(server.databaseNames(), ['Nóminas 2024']);
  });

  for (const [version, microsoft, hasSysDatabases] of [
    ['8.00.2039', 134219767, false],
    ['9.00.5000.00', 150999944, true],
    ['15.0.2000.5', 251660240, true],
  ]) {
    it(`speaks as SQL Server ${version} in the TDS version it negotiates`, async () => {
      await server.stop();
      server.writeState({ ...defaultState(), version });
      await server.start();
      // A SQL Server 2000 sends its login messages in TDS 7.1 before it says
      // so; tedious must be told to expect it, as against the real one.
      const tdsVersion = version.startsWith('8.') ? '7_1' : undefined;
      const r = await client.run(
        server.port,
        ...SA,
        ["SELECT SERVERPROPERTY('ProductVersion'), @@MICROSOFTVERSION", 'SELECT name FROM sys.databases'],
        { tdsVersion },
      );
      assert.ok(r.connected, r.stderr || String(r.error));
      assert.deepEqual(r.rows[0], [version, String(microsoft)]);
      if (hasSysDatabases) {
        assert.deepEqual(errors(r), []);
        const listed = r.rows.flat();
        for (const name of [...SYSTEM, 'Ventas', 'Compras', 'Nóminas 2024']) assert.ok(listed.includes(name), name);
      } else {
        assert.deepEqual(errors(r), [[208, 16, "Invalid object name 'sys.databases'."]]);
      }
    });
  }
});
