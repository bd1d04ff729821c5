// The statement recogniser: what it accepts, and SQL Server's syntax errors.
#include "QStringPrinter.h"
#include "sql/Parameters.h"
#include "sql/Statements.h"

#include <gtest/gtest.h>

using namespace sql;

namespace {

QStringList dropped(const QString& text) {
    const Batch b = parseBatch(text);
    EXPECT_FALSE(b.error) << text.toStdString() << ": " << b.error->text.toStdString();
    QStringList names;
    for (const Statement& s : b.statements) {
        if (const auto* d = std::get_if<DropDatabase>(&s)) {
            names += d->names;
        }
    }
    return names;
}

SyntaxError errorOf(const QString& text) {
    const Batch b = parseBatch(text);
    EXPECT_TRUE(b.error) << text.toStdString();
    EXPECT_TRUE(b.statements.isEmpty());
    return b.error.value_or(SyntaxError{});
}

} // namespace

TEST(Statements, DropDatabaseNamesInEveryQuoting) {
    EXPECT_EQ(dropped("DROP DATABASE Ventas"), QStringList{"Ventas"});
    EXPECT_EQ(dropped("drop  database\n[a]]b c;d'e]"), QStringList{"a]b c;d'e"});
    EXPECT_EQ(dropped("DROP DATABASE \"x\"\"y\""), QStringList{"x\"y"});
    EXPECT_EQ(dropped("DROP DATABASE [N\u00f3minas 2024];"), QStringList{"N\u00f3minas 2024"});
    EXPECT_EQ(dropped("DROP DATABASE a, [b] , \"c\""), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(dropped("/* a /* nested */ comment */ DROP -- why\n DATABASE x ;;"),
              QStringList{"x"});
    EXPECT_EQ(dropped("DROP DATABASE [" + QString(128, u'n') + "]"),
              QStringList{QString(128, u'n')});
}

TEST(Statements, TheCatalogQueriesOfTheTool) {
    const Batch b = parseBatch("SELECT name FROM master.dbo.sysdatabases ORDER BY name");
    ASSERT_FALSE(b.error);
    ASSERT_EQ(b.statements.size(), 1);
    const auto& s = std::get<Select>(b.statements[0]);
    ASSERT_TRUE(s.from);
    EXPECT_EQ(s.from->parts, (QStringList{"master", "dbo", "sysdatabases"}));
    ASSERT_EQ(s.orderBy.size(), 1);
    EXPECT_EQ(s.orderBy[0].column, "name");

    const Batch e = parseBatch("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases");
    ASSERT_FALSE(e.error);
    const auto& item = std::get<Select>(e.statements[0]).items.at(0);
    EXPECT_EQ(item.expr.kind, Expr::Kind::DbName);
    EXPECT_EQ(item.expr.argText, "dbid");
    EXPECT_EQ(item.alias, QString("DB_NAME"));

    const Batch m = parseBatch("select name from master..sysdatabases");
    ASSERT_FALSE(m.error);
    EXPECT_EQ(std::get<Select>(m.statements[0]).from->parts,
              (QStringList{"master", "", "sysdatabases"}));
}

TEST(Statements, TopTwoConditionsAndRestrictedUser) {
    const Batch b =
        parseBatch("SELECT TOP 1 backup_finish_date, media_set_id FROM msdb.dbo.backupset WHERE "
                   "database_name = N'O''Brien' AND type = 'D' ORDER BY backup_finish_date DESC");
    ASSERT_FALSE(b.error) << b.error->text.toStdString();
    const auto& s = std::get<Select>(b.statements[0]);
    EXPECT_EQ(s.top, 1);
    ASSERT_EQ(s.where.size(), 2);
    EXPECT_EQ(s.where[0].column, "database_name");
    EXPECT_EQ(s.where[0].value.text, "O'Brien");
    EXPECT_EQ(s.where[1].value.text, "D");
    EXPECT_TRUE(s.orderBy.at(0).descending);
    EXPECT_EQ(
        std::get<Select>(parseBatch("SELECT TOP (3) name FROM sys.databases").statements[0]).top,
        3);

    const auto alter = [](const char* text) {
        return std::get<AlterDatabase>(parseBatch(text).statements.at(0));
    };
    EXPECT_EQ(alter("ALTER DATABASE [V] SET RESTRICTED_USER WITH ROLLBACK IMMEDIATE").access,
              AlterDatabase::Access::Restricted);
    EXPECT_EQ(alter("ALTER DATABASE V SET SINGLE_USER").access, AlterDatabase::Access::Single);
    EXPECT_EQ(alter("alter database V set multi_user with no_wait").termination,
              AlterDatabase::Termination::NoWait);
    EXPECT_EQ(errorOf("SELECT name FROM sys.databases WHERE name = 'a' AND").number, 156);
}

TEST(Statements, TheSetBatchesDriversSendWhenTheyConnect) {
    const Batch b = parseBatch(
        "set textsize 2147483647\nset quoted_identifier on\nset arithabort off\n"
        "set numeric_roundabort off\nset ansi_warnings on\nset ansi_padding on\n"
        "set ansi_nulls on\nset concat_null_yields_null on\nset cursor_close_on_commit off\n"
        "set implicit_transactions off\nset language us_english\nset dateformat mdy\n"
        "set datefirst 7\nset transaction isolation level read committed");
    ASSERT_FALSE(b.error) << b.error->text.toStdString();
    ASSERT_EQ(b.statements.size(), 14);
    const auto& iso = std::get<Set>(b.statements.last());
    EXPECT_EQ(iso.kind, Set::Kind::IsolationLevel);
    EXPECT_EQ(iso.value, "READ COMMITTED");
    EXPECT_EQ(
        std::get<Set>(parseBatch("SET ANSI_NULLS, QUOTED_IDENTIFIER ON").statements[0]).options,
        (QStringList{"ANSI_NULLS", "QUOTED_IDENTIFIER"}));
}

TEST(Statements, SyntaxErrorsAsSqlServerWordsThem) {
    SyntaxError e = errorOf("SELECT name FROM sysdatabases ORDER name");
    EXPECT_EQ(e.number, 102);
    EXPECT_EQ(e.severity, 15);
    EXPECT_EQ(e.text, "Incorrect syntax near 'name'.");

    e = errorOf("DROP DATABASE");
    EXPECT_EQ(e.number, 156);
    EXPECT_EQ(e.text, "Incorrect syntax near the keyword 'DATABASE'.");

    e = errorOf("DROP DATABASE [abc");
    EXPECT_EQ(e.number, 105);
    EXPECT_EQ(e.text, "Unclosed quotation mark after the character string 'abc'.");

    e = errorOf("SELECT 1 /* never closed");
    EXPECT_EQ(e.number, 113);

    e = errorOf("DROP DATABASE [" + QString(129, u'x') + "]");
    EXPECT_EQ(e.number, 103);

    e = errorOf("SELECT 1 SELECT 2 )");
    EXPECT_EQ(e.text, "Incorrect syntax near ')'.");

    e = errorOf("SET FOO ON");
    EXPECT_EQ(e.number, 195);
    EXPECT_EQ(e.text, "'FOO' is not a recognized SET option.");

    e = errorOf("Ventas");
    EXPECT_EQ(e.number, 2812);
    EXPECT_EQ(e.text, "Could not find stored procedure 'Ventas'.");
}

TEST(Statements, ABatchWithAnErrorRunsNothing) {
    const Batch b = parseBatch("DROP DATABASE Ventas; DROP DATABASE (");
    EXPECT_TRUE(b.error);
    EXPECT_TRUE(b.statements.isEmpty());
}

// sp_executesql's parameters go in as literals only where a batch would
// read a variable: not in strings, quoted names, comments or @@functions.
TEST(Statements, ExecutedStatementsTakeTheirParametersAsLiterals) {
    const ParameterLiterals literals = {{"@n", textLiteral("O'Brien")}, {"@Id", "6"}};
    const std::pair<QString, QString> cases[] = {
        {"SELECT DB_ID(@n)", "SELECT DB_ID(N'O''Brien')"},
        {"SELECT DB_NAME(@ID), @@SPID", "SELECT DB_NAME(6), @@SPID"},
        {"SELECT '@n', [@n], \"@n\" -- @n\n/* @n /* @n */ */ @nx",
         "SELECT '@n', [@n], \"@n\" -- @n\n/* @n /* @n */ */ @nx"},
    };
    for (const auto& [statement, expected] : cases) {
        EXPECT_EQ(withParameters(statement, literals), expected);
    }
    EXPECT_EQ(declaredParameters("@a int, @b nvarchar(10, 2) OUTPUT,@c decimal(5,2)"),
              (QStringList{"@a", "@b", "@c"}));
}

// A batch of blocks: TRY and CATCH hold statements of their own, EXEC takes
// its arguments by position or by name, and a SELECT joins tables by alias.
TEST(Statements, BlocksProceduresAndJoins) {
    const Batch b = parseBatch(
        "BEGIN TRY EXEC sp_executesql N'SELECT 1', N'@db nvarchar(128)', @db = N'x' END TRY "
        "BEGIN CATCH SELECT ERROR_NUMBER() AS unread_0 END CATCH\n"
        "SELECT TOP 1 bs.name FROM msdb.dbo.backupset AS bs LEFT JOIN msdb..backupmediafamily mf "
        "ON mf.media_set_id = bs.media_set_id AND mf.x = 1 WHERE bs.type = 'D' ORDER BY bs.name");
    ASSERT_FALSE(b.error) << b.error->text.toStdString();
    ASSERT_EQ(b.statements.size(), 2);
    const auto& t = std::get<TryCatch>(b.statements[0]);
    const auto& exec = std::get<Execute>(t.tryBlock->items.at(0));
    EXPECT_EQ(exec.procedure, "sp_executesql");
    ASSERT_EQ(exec.arguments.size(), 3);
    EXPECT_EQ(exec.arguments[2].first, "@db");
    EXPECT_EQ(exec.arguments[2].second.text, "x");
    const auto& caught = std::get<Select>(t.catchBlock->items.at(0));
    EXPECT_EQ(caught.items.at(0).expr.kind, Expr::Kind::ErrorNumber);
    const auto& s = std::get<Select>(b.statements[1]);
    EXPECT_EQ(s.fromAlias, "bs");
    ASSERT_EQ(s.joins.size(), 1);
    EXPECT_TRUE(s.joins[0].left);
    EXPECT_EQ(s.joins[0].alias, "mf");
    EXPECT_EQ(s.joins[0].on.size(), 2);
    EXPECT_EQ(s.joins[0].on[0].value.text, "bs.media_set_id");
    EXPECT_EQ(s.where.at(0).column, "bs.type");
    EXPECT_EQ(s.orderBy.at(0).column, "bs.name");
    EXPECT_EQ(errorOf("BEGIN TRY SELECT 1 END CATCH").number, 156);
}

// BACKUP and RESTORE as the tool sends them (a parameter arrives as a text
// where the name goes) and as tsql sends them; their options in any order
// and case; what this server does not serve is a syntax error, never
// ignored.
TEST(Statements, BackupAndRestoreWithTheirOptions) {
    const auto backup = [](const QString& text) {
        const Batch b = parseBatch(text);
        EXPECT_FALSE(b.error) << text.toStdString() << ": " << b.error->text.toStdString();
        return b.error ? BackupDatabase{} : std::get<BackupDatabase>(b.statements.at(0));
    };
    const BackupDatabase tool =
        backup("BACKUP DATABASE N'O''Brien' TO DISK = N'/b/x.bak' WITH COPY_ONLY, CHECKSUM, "
               "NOINIT, NAME = N'Tarvelo 1', DESCRIPTION = N'final', STATS = 10, COMPRESSION");
    EXPECT_EQ(tool.database, "O'Brien");
    EXPECT_EQ(tool.device, "/b/x.bak");
    EXPECT_TRUE(tool.copyOnly && tool.checksum && !tool.init);
    EXPECT_EQ(tool.name, QString("Tarvelo 1"));
    EXPECT_EQ(tool.description, QString("final"));
    EXPECT_EQ(tool.stats, 10);
    EXPECT_EQ(tool.compression, true);
    EXPECT_TRUE(tool.conflicting.isEmpty());
    const BackupDatabase plain =
        backup("backup database [a]]b] to disk = 'x.bak' with stats, init");
    EXPECT_EQ(plain.database, "a]b");
    EXPECT_EQ(plain.stats, 10);
    EXPECT_TRUE(plain.init && !plain.copyOnly && !plain.compression);
    EXPECT_EQ(backup("BACKUP DATABASE \"v\" TO DISK = NULL").device, "");
    EXPECT_EQ(backup("BACKUP DATABASE v TO DISK = 'x' WITH INIT, NOINIT").conflicting,
              (QStringList{"INIT", "NOINIT"}));

    const auto restore = [](const QString& text) {
        const Batch b = parseBatch(text);
        EXPECT_FALSE(b.error) << text.toStdString() << ": " << b.error->text.toStdString();
        return b.error ? Restore{} : std::get<Restore>(b.statements.at(0));
    };
    const Restore verify =
        restore("RESTORE VERIFYONLY FROM DISK = N'/b/x.bak' WITH FILE = 2, CHECKSUM");
    EXPECT_EQ(verify.kind, Restore::Kind::VerifyOnly);
    EXPECT_EQ(verify.file, 2);
    EXPECT_TRUE(verify.checksum);
    EXPECT_EQ(restore("restore headeronly from disk = 'x'").kind, Restore::Kind::HeaderOnly);
    const Restore db = restore("RESTORE DATABASE [V] FROM DISK = N'x' WITH REPLACE, NORECOVERY");
    EXPECT_EQ(db.database, "V");
    EXPECT_TRUE(db.replace && !db.recovery);

    const std::pair<const char*, const char*> refused[] = {
        {"BACKUP DATABASE v TO DISK = 'x' WITH FORMAT", "Incorrect syntax near 'FORMAT'."},
        {"BACKUP DATABASE v TO TAPE = 'x'", "Incorrect syntax near 'TAPE'."},
        {"BACKUP DATABASE v TO DISK = 'x' WITH NAME", "Incorrect syntax near 'NAME'."},
        {"RESTORE HEADERONLY FROM DISK = 'x' WITH REPLACE", "Incorrect syntax near 'REPLACE'."},
        {"RESTORE VERIFYONLY FROM DISK = 'x' WITH FILE = 'a'", "Incorrect syntax near 'a'."},
        {"RESTORE LOG v FROM DISK = 'x'", "Incorrect syntax near 'LOG'."},
    };
    for (const auto& [text, why] : refused) {
        EXPECT_EQ(errorOf(text).text, why) << text;
    }
}

TEST(Statements, TheServerFactsOfTheFinalBackup) {
    const Batch b =
        parseBatch("SELECT SUSER_SNAME(0x01) AS first_login, GETDATE() AS server_now, "
                   "HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE') AS may_view_server_state");
    ASSERT_FALSE(b.error) << b.error->text.toStdString();
    const auto& items = std::get<Select>(b.statements[0]).items;
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].expr.args.at(0).kind, Expr::Kind::Binary);
    EXPECT_EQ(items[0].expr.args.at(0).text, "01");
    EXPECT_EQ(items[1].expr.kind, Expr::Kind::GetDate);
}
