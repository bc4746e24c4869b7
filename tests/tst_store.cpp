// The record cursor against a real election file: the eight sequences the screens
// use, text equality, quoting, durability and the engine's failures.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <memory>

using store::RecordCursor;
using store::StoreError;

class StoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ElectionFolder> db;
    std::unique_ptr<QObject> owner;

    RecordCursor *cursor(const QString &initial)
    {
        auto *c = new RecordCursor(QStringLiteral("dcTest"), initial, owner.get());
        c->setDatabaseName(db->file());
        return c;
    }

    void addUsers()
    {
        db->exec(QStringLiteral(
            "INSERT INTO Users VALUES ('Ann Lee','s100','pw1',0),('Bo O''Brien','O''Brien','pw2',0),"
            "('Ärger Ärgerlich','ärger','pw3',1),('Tricky','x'' OR ''1''=''1','pw4',0)"));
    }

    int errorNumberOf(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const StoreError &e) {
            return e.number();
        }
        return 0;
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        owner = std::make_unique<QObject>();
    }
    void cleanup()
    {
        owner.reset();
        store::Connection::closeAll();
        store::Connection::failWriteAfter(0);
    }

    void listAndCountPatternsOnEmptyOneAndManyRows()
    {
        RecordCursor *dc = cursor(QStringLiteral("Positions"));
        dc->setRecordSource(QStringLiteral("Select * from Positions"));
        dc->Refresh();
        QVERIFY(dc->BOF() && dc->EOF_());
        QCOMPARE(dc->RecordCount(), 0);

        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President')"));
        dc->Refresh();
        QVERIFY(!dc->BOF() && !dc->EOF_());
        dc->MoveLast();
        QCOMPARE(dc->RecordCount(), 1);
        dc->MoveFirst();
        QCOMPARE(dc->FieldText(QStringLiteral("PosName")), QStringLiteral("President"));
        dc->MoveNext();
        QVERIFY(dc->EOF_());

        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P3','Treasurer'),('P2','Secretary')"));
        dc->Refresh();
        dc->MoveLast();
        const int n = dc->RecordCount();
        dc->MoveFirst();
        QStringList codes;
        for (int i = 0; i < n; ++i) {
            codes << dc->FieldText(QStringLiteral("posid"));
            dc->MoveNext();
        }
        // Rows come in the order they were added.
        QCOMPARE(codes, (QStringList{"P1", "P3", "P2"}));
        QVERIFY(dc->EOF_());
    }

    void foundAndDuplicateTestsIgnoreLetterCaseForEveryLetter()
    {
        addUsers();
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        const QString query = QStringLiteral("Select * From Users where Username ='");
        dc->setRecordSource(query + QStringLiteral("S100") + QStringLiteral("'"));
        dc->Refresh();
        QVERIFY(!dc->BOF() && !dc->EOF_());
        QCOMPARE(dc->FieldText(QStringLiteral("Name")), QStringLiteral("Ann Lee"));

        dc->setRecordSource(query + QStringLiteral("ÄRGER'"));
        dc->Refresh();
        QVERIFY(!dc->EOF_());
        QCOMPARE(dc->FieldText(QStringLiteral("Username")), QStringLiteral("ärger"));

        dc->setRecordSource(query + QStringLiteral("s10'"));
        dc->Refresh();
        QVERIFY(dc->BOF() && dc->EOF_());

        // Duplicate test: a key in another case is the same key.
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('vp','Vice'),('éa','Accent')"));
        RecordCursor *check = cursor(QStringLiteral("Positions"));
        for (const QString &typed : {QStringLiteral("VP"), QStringLiteral("ÉA")}) {
            check->setRecordSource(QStringLiteral("Select * from Positions where PosID ='") + typed + "'");
            check->Refresh();
            if (!check->EOF_())
                check->MoveLast();
            QCOMPARE(check->RecordCount(), 1);
        }
    }

    void valuesWithQuotesAreMatchedExactlyNeverRunAsSql()
    {
        addUsers();
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        const QString query = QStringLiteral("Select * From Users where Username ='");
        dc->setRecordSource(query + QStringLiteral("o'brien'"));
        dc->Refresh();
        dc->MoveLast();
        QCOMPARE(dc->RecordCount(), 1);
        QCOMPARE(dc->FieldText(QStringLiteral("Name")), QStringLiteral("Bo O'Brien"));

        // The classic injection finds only the account whose name is that very text.
        dc->setRecordSource(query + QStringLiteral("x' OR '1'='1") + "'");
        dc->Refresh();
        dc->MoveLast();
        QCOMPARE(dc->RecordCount(), 1);
        QCOMPARE(dc->FieldText(QStringLiteral("Name")), QStringLiteral("Tricky"));

        dc->setRecordSource(query + QStringLiteral("'; DROP TABLE Users; --") + "'");
        dc->Refresh();
        QVERIFY(dc->EOF_());
        QCOMPARE(db->count(QStringLiteral("Users")), 4);

        // Percent and underscore are plain characters, not patterns.
        dc->setRecordSource(query + QStringLiteral("s1%'"));
        dc->Refresh();
        QVERIFY(dc->EOF_());
        dc->setRecordSource(query + QStringLiteral("s_00'"));
        dc->Refresh();
        QVERIFY(dc->EOF_());
    }

    void appendChangeAndRemoveReachTheFileAtOnce()
    {
        RecordCursor *add = cursor(QStringLiteral("CandVote"));
        add->Refresh();
        if (!add->BOF()) {
            add->MoveLast();
            add->MoveNext();
        }
        add->AddNew();
        add->SetField(QStringLiteral("CandID"), QStringLiteral("C'1"));
        add->SetField(QStringLiteral("NumVotes"), 0);
        add->Update();
        // Seen by an independent connection the moment Update returns.
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID, NumVotes FROM CandVote")), QStringList{"C'1|0"});

        RecordCursor *vote = cursor(QStringLiteral("CandVote"));
        vote->setRecordSource(QStringLiteral("Select * From CandVote where CandID ='c'1'"));
        vote->Refresh();
        const qint32 v = qint32(vote->Field(QStringLiteral("Numvotes")).toLongLong());
        vote->Edit();
        vote->SetField(QStringLiteral("Numvotes"), v + 1);
        vote->Update();
        QCOMPARE(vote->Field(QStringLiteral("NUMVOTES")).toLongLong(), 1);
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote")).toLongLong(), 1);

        // Durable across closing and reopening the file.
        owner.reset();
        store::Connection::closeAll();
        owner = std::make_unique<QObject>();
        RecordCursor *again = cursor(QStringLiteral("CandVote"));
        again->Refresh();
        QCOMPARE(again->Field(QStringLiteral("NumVotes")).toLongLong(), 1);

        again->Edit();
        again->Delete();
        QCOMPARE(db->count(QStringLiteral("CandVote")), 0);
        // No current row after a delete.
        QCOMPARE(errorNumberOf([&] { again->Field(QStringLiteral("CandID")); }), int(store::NoCurrentRow));
        again->MoveNext();
        QVERIFY(again->EOF_());
    }

    void aRowChangedByAnotherCopySinceItWasReadIsNotOverwritten()
    {
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1', 5)"));
        RecordCursor *dc = cursor(QStringLiteral("CandVote"));
        dc->Refresh();
        db->exec(QStringLiteral("UPDATE CandVote SET NumVotes = 6")); // another copy voted
        dc->Edit();
        dc->SetField(QStringLiteral("NumVotes"), 6);
        QCOMPARE(errorNumberOf([&] { dc->Update(); }), int(store::RowChanged));
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote")).toLongLong(), 6);

        db->exec(QStringLiteral("DELETE FROM CandVote"));
        dc->Refresh();
        QVERIFY(dc->EOF_());
    }

    void removeMovesOnToTheNextRow()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('A','a'),('B','b'),('C','c')"));
        RecordCursor *dc = cursor(QStringLiteral("Positions"));
        dc->Refresh();
        dc->MoveNext();
        dc->Delete();
        dc->MoveNext();
        QCOMPARE(dc->FieldText(QStringLiteral("PosID")), QStringLiteral("C"));
        QCOMPARE(db->rows(QStringLiteral("SELECT PosID FROM Positions")), (QStringList{"A", "C"}));
    }

    void resultsQueryRanksHighestFirst()
    {
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('a',5),('b',12),('c',0),('d',12)"));
        RecordCursor *dc = cursor(QStringLiteral("CandVote"));
        dc->setRecordSource(QStringLiteral("Select * From CandVote Order by Numvotes Desc"));
        dc->Refresh();
        QStringList order;
        for (; !dc->EOF_(); dc->MoveNext())
            order << dc->FieldText(QStringLiteral("CandID"));
        QCOMPARE(order, (QStringList{"b", "d", "a", "c"}));
    }

    void textsAndTalliesKeepTheirFullRange()
    {
        const QString name = QString(49, QChar(0x00E9)) + QStringLiteral("😀");
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        dc->Refresh();
        dc->AddNew();
        dc->SetField(QStringLiteral("Name"), name);
        dc->SetField(QStringLiteral("Username"), QString(20, QLatin1Char('9')));
        dc->SetField(QStringLiteral("HasVoted"), false);
        dc->Update();
        QCOMPARE(db->value(QStringLiteral("SELECT Name FROM Users")).toString(), name);
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users")).toLongLong(), 0);

        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('max', 2147483647)"));
        RecordCursor *vote = cursor(QStringLiteral("CandVote"));
        vote->setRecordSource(QStringLiteral("Select * From CandVote where CandID ='max'"));
        vote->Refresh();
        QCOMPARE(vote->Field(QStringLiteral("NumVotes")).toLongLong(), 2147483647LL);
        vote->Edit();
        vote->SetField(QStringLiteral("NumVotes"), 2147483648LL);
        // The file refuses a tally beyond 32 bits rather than storing it.
        QVERIFY(errorNumberOf([&] { vote->Update(); }) != 0);
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote")).toLongLong(), 2147483647LL);
    }

    void listsBeyondSixteenBitCountsWork()
    {
        db->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 40000) "
            "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p', 0 FROM n"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        dc->setRecordSource(QStringLiteral("Select * from Users"));
        dc->Refresh();
        dc->MoveLast();
        QCOMPARE(dc->RecordCount(), 40000);
        QCOMPARE(dc->FieldText(QStringLiteral("Username")), QStringLiteral("u40000"));
    }

    void failuresOfTheEngineAreReportedNeverIgnored()
    {
        // A missing file is a failure and is not created.
        RecordCursor *missing = new RecordCursor(QStringLiteral("dcMissing"), QStringLiteral("Users"), owner.get());
        const QString path = db->folder() + QStringLiteral("/absent/candpos4.mdb");
        missing->setDatabaseName(path);
        QCOMPARE(errorNumberOf([&] { missing->Refresh(); }), 14); // SQLITE_CANTOPEN
        QVERIFY(!QFile::exists(path));
        missing->setDatabaseName(db->folder() + QStringLiteral("/other.mdb"));
        QVERIFY(errorNumberOf([&] { missing->Refresh(); }) != 0);
        QVERIFY(!QFile::exists(db->folder() + QStringLiteral("/other.mdb")));

        RecordCursor *dc = cursor(QStringLiteral("Users"));
        for (const QString &bad : {QStringLiteral("Select Name from Users"),
                                   QStringLiteral("Select * from Users; DROP TABLE Users"),
                                   QStringLiteral("Select * from Users where Username = 1"),
                                   QStringLiteral("Select * from Users where Username ='x"),
                                   QStringLiteral("Select * from Users Order by Name Asc"),
                                   QStringLiteral("")})
            QCOMPARE(errorNumberOf([&] { dc->setRecordSource(bad); dc->Refresh(); }), int(store::BadRecordSource));
        dc->setRecordSource(QStringLiteral("Select * from Voters"));
        QCOMPARE(errorNumberOf([&] { dc->Refresh(); }), 1); // no such table
        QCOMPARE(db->count(QStringLiteral("Users")), 0);

        dc->setRecordSource(QStringLiteral("Users"));
        dc->Refresh();
        QCOMPARE(errorNumberOf([&] { dc->MoveFirst(); }), int(store::NoCurrentRow));
        QCOMPARE(errorNumberOf([&] { dc->MoveLast(); }), int(store::NoCurrentRow));
        QCOMPARE(errorNumberOf([&] { dc->Edit(); }), int(store::NoCurrentRow));
        QCOMPARE(errorNumberOf([&] { dc->Field(QStringLiteral("Name")); }), int(store::NoCurrentRow));
        QCOMPARE(errorNumberOf([&] { dc->MoveNext(); }), int(store::NoCurrentRow));
        dc->AddNew();
        QCOMPARE(errorNumberOf([&] { dc->SetField(QStringLiteral("Nickname"), 1); }), int(store::UnknownField));
    }

    void aTransactionLeavesAllOrNothing()
    {
        RecordCursor *info = cursor(QStringLiteral("CandInfo"));
        RecordCursor *vote = cursor(QStringLiteral("CandVote"));
        info->Refresh();
        vote->Refresh();
        store::Connection::failWriteAfter(2);
        const int failed = errorNumberOf([&] {
            store::Transaction tx(info->connection());
            info->AddNew();
            info->SetField(QStringLiteral("CandID"), QStringLiteral("C1"));
            info->Update();
            vote->AddNew();
            vote->SetField(QStringLiteral("CandID"), QStringLiteral("C1"));
            vote->Update();
            tx.Commit();
        });
        QCOMPARE(failed, int(store::InjectedFault));
        QCOMPARE(db->count(QStringLiteral("CandInfo")), 0);
        QCOMPARE(db->count(QStringLiteral("CandVote")), 0);
    }

    void theFileStaysPlainSqliteWithNothingLeftBeside()
    {
        RecordCursor *dc = cursor(QStringLiteral("Administrators"));
        dc->Refresh();
        dc->Edit();
        dc->SetField(QStringLiteral("AdminPassword"), QStringLiteral("new"));
        dc->Update();
        owner.reset();
        store::Connection::closeAll();
        QCOMPARE(QDir(db->folder()).entryList(QDir::Files), QStringList{"candpos4.mdb"});

        const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (shell.isEmpty())
            QSKIP("the sqlite3 shell is not installed");
        QProcess sqlite;
        sqlite.start(shell, {db->file(), QStringLiteral("SELECT AdminPassword FROM Administrators; "
                                                         "UPDATE Users SET HasVoted = 1; PRAGMA integrity_check;")});
        QVERIFY(sqlite.waitForFinished());
        QCOMPARE(sqlite.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(sqlite.readAllStandardOutput()), QStringLiteral("new\nok\n"));

        sqlite.start(shell, {db->file(), QStringLiteral(".tables")});
        QVERIFY(sqlite.waitForFinished());
        const QStringList tables = QString::fromUtf8(sqlite.readAllStandardOutput()).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        QCOMPARE(tables, (QStringList{"Administrators", "CandInfo", "CandVote", "Positions", "Users"}));
    }
};

POLLARIS_TEST_MAIN(StoreTest)
#include "tst_store.moc"
