// The record cursor against a real election, in a file and on a server: the
// sequences the screens use, text equality, quoting, durability, limits and the
// engine's failures.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <sqlite3.h>

using store::RecordCursor;

// One field of every row, read as the list screens do: the count at the last
// row, then each row from the first to the end.
static QStringList list(RecordCursor *dc, const QString &source, const QString &field)
{
    dc->setRecordSource(source);
    dc->Refresh();
    QStringList out;
    if (dc->EOF_())
        return out;
    dc->MoveLast();
    const int n = dc->RecordCount();
    for (dc->MoveFirst(); !dc->EOF_(); dc->MoveNext())
        out << dc->FieldText(field);
    return out.size() == n ? out : QStringList{"count differs"};
}

// Append as the add screens do: after the last row of a fresh read.
static void append(RecordCursor *dc, const QString &field, const QVariant &value)
{
    dc->Refresh();
    if (!dc->BOF())
        dc->MoveLast(), dc->MoveNext();
    dc->AddNew();
    dc->SetField(field, value);
    dc->Update();
}

static int errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const store::StoreError &e) {
        return e.number();
    }
    return 0;
}

class StoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;
    std::unique_ptr<QObject> owner;

    RecordCursor *cursor(const QString &table)
    {
        auto *c = new RecordCursor(QStringLiteral("dcTest"), table, owner.get());
        return c->setDatabaseName(db->target()), c;
    }

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine), owner = std::make_unique<QObject>();
    }
    void cleanup() { owner.reset(), store::Connection::closeAll(), store::Connection::failWriteAfter(0); }

    void sequencesOnEmptyOneAndManyRowsReachTheFileAndLast()
    {
        RecordCursor *dc = cursor(QStringLiteral("Positions"));
        const QString all = QStringLiteral("Select * from Positions");
        QCOMPARE(list(dc, all, QStringLiteral("PosID")), QStringList());
        for (const char *id : {"P1", "P3", "P2"})
            append(dc, QStringLiteral("PosID"), QString::fromLatin1(id));
        QCOMPARE(db->rows(QStringLiteral("SELECT PosID FROM Positions")), (QStringList{"P1", "P3", "P2"}));
        // Rows come in the order they were added; a key in another case is the same key.
        QCOMPARE(list(dc, all, QStringLiteral("posid")), (QStringList{"P1", "P3", "P2"}));
        QCOMPARE(list(dc, QStringLiteral("Select * from Positions where PosID ='p3'"), "PosID"), QStringList{"P3"});

        // Change the looked-up row; fields by name in any case.
        dc->MoveFirst();
        dc->Edit();
        dc->SetField(QStringLiteral("POSNAME"), QStringLiteral("O'Name"));
        dc->Update();
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Positions WHERE PosName IS NOT NULL")),
                 QStringList{"P3|O'Name"});

        // A delete moves on to the next row.
        dc->setRecordSource(all);
        dc->Refresh();
        dc->Delete();
        dc->MoveNext();
        QCOMPARE(dc->FieldText(QStringLiteral("PosID")), QStringLiteral("P3"));

        // Closed, a plain SQLite file with nothing beside it (or nothing at all beside
        // a server's election); durable when reopened.
        owner.reset();
        store::Connection::closeAll();
        QCOMPARE(QDir(db->folder()).entryList(QDir::Files),
                 db->onServer() ? QStringList() : QStringList{"candpos4.mdb"});
        if (!db->onServer())
            QCOMPARE(db->value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        owner = std::make_unique<QObject>();
        dc = cursor(QStringLiteral("Positions"));
        QCOMPARE(list(dc, all, QStringLiteral("PosID")), (QStringList{"P3", "P2"}));

        // Deleted rows are passed over by every move and left out of the count.
        append(dc, QStringLiteral("PosID"), QStringLiteral("P4"));
        dc->Refresh();
        dc->MoveLast();
        dc->Delete();
        dc->MoveFirst();
        dc->Delete();
        QCOMPARE(dc->RecordCount(), 1);
        dc->MoveLast();
        QCOMPARE(dc->FieldText(QStringLiteral("PosID")), QStringLiteral("P2"));
        dc->MoveFirst();
        QCOMPARE(dc->FieldText(QStringLiteral("PosID")), QStringLiteral("P2"));
        dc->Delete();
        dc->MoveNext();
        QVERIFY(dc->EOF_() && dc->RecordCount() == 0);
        QCOMPARE(errorOf([dc] { dc->MoveLast(); }), int(store::NoCurrentRow));
        QCOMPARE(db->count(QStringLiteral("Positions")), 0);
    }

    // (Quotes, patterns and case at random: the fuzz test.) The classic injection finds only
    // its own text; a character the server cannot store finds nothing, not what precedes it.
    void equalityIgnoresCaseOfEveryLetterAndQuotesAreNeverSql()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann Lee','s100','pw1',false),"
                                "('Ärger Ärgerlich','ärger','pw3',true),('Tricky','x'' OR ''1''=''1','pw4',false)"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        const auto find = [&](const QString &v) {
            return list(dc, "Select * From Users where Username ='" + v + "'", QStringLiteral("Name"));
        };
        QCOMPARE(find(QStringLiteral("x' OR '1'='1")), QStringList{"Tricky"});
        QCOMPARE(find(QStringLiteral("ÄRGER")), QStringList{"Ärger Ärgerlich"});
        for (const char *miss : {"s10", "s1%", "'; DROP TABLE Users; --"})
            QCOMPARE(find(QString::fromUtf8(miss)), QStringList());
        QCOMPARE(find(QStringLiteral("s100") + QChar(0)), QStringList());
        QCOMPARE(db->count(QStringLiteral("Users")), 3);
    }

    // Where the two engines' equality parts: the server's collation also takes an accented
    // letter written as one character or as two, a full-width letter, a ligature and an
    // invisible character as equal; the file compares the texts as they are, case folded.
    // Elsewhere (ß and SS, dotless ı and i, a letter and its accented form) they agree.
    void equalityWhereTheServerDiffersFromTheFile()
    {
        const QStringList stored = {QStringLiteral("\u00E9"), QStringLiteral("ab"),     QStringLiteral("a"),
                                    QStringLiteral("fi"),     QStringLiteral("\u00DF"), QStringLiteral("i"),
                                    QStringLiteral("\u03C3")};
        for (const QString &name : stored)
            db->exec(QStringLiteral("INSERT INTO Users VALUES ('n', '%1', 'p', false)").arg(name));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        const auto find = [&](const QString &v) {
            return list(dc, "Select * From Users where Username ='" + v + "'", QStringLiteral("Username"));
        };
        const bool server = db->onServer();
        for (const auto &[typed, serverOnly] :
             QList<QPair<QString, QString>>{{QStringLiteral("E\u0301"), QStringLiteral("\u00E9")},
                                            {QStringLiteral("a\u00ADb"), QStringLiteral("ab")},
                                            {QStringLiteral("a\u200Db"), QStringLiteral("ab")},
                                            {QStringLiteral("\uFF21"), QStringLiteral("a")},
                                            {QStringLiteral("\uFB01"), QStringLiteral("fi")}})
            QCOMPARE(find(typed), server ? QStringList{serverOnly} : QStringList());
        for (const auto &[typed, both] :
             QList<QPair<QString, QStringList>>{{QStringLiteral("\u00C9"), {QStringLiteral("\u00E9")}},
                                                {QStringLiteral("\u1E9E"), {QStringLiteral("\u00DF")}},
                                                {QStringLiteral("\u03C2"), {QStringLiteral("\u03C3")}},
                                                {QStringLiteral("SS"), {}},
                                                {QStringLiteral("\u0131"), {}},
                                                {QStringLiteral("\u00E4"), {}}})
            QCOMPARE(find(typed), both);
    }

    // A deleted voter's password does not linger in the file's free space.
    void aDeletedRowLeavesNoTraceInTheFile()
    {
        if (db->onServer())
            QSKIP("the server keeps its storage to itself");
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Gone Voter','gone','Zq7-unique-secret',false)"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        dc->setRecordSource(QStringLiteral("Select * From Users where Username ='gone'"));
        dc->Refresh();
        dc->Edit();
        dc->Delete();
        owner.reset();
        store::Connection::closeAll();
        QFile file(db->file());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("Zq7-unique-secret"));
    }

    void rangesBeyondSixteenBits()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 40000) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p', false FROM n;"
                                "INSERT INTO CandVote VALUES ('a',5),('b',12),('c',0),('d',12),('max',2147483647)"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        // Exactly 40,000 rows, the last of them readable.
        QCOMPARE(list(dc, QStringLiteral("Select * from Users"), QStringLiteral("Username")).mid(39998),
                 (QStringList{"u39999", "u40000"}));

        // The results order: highest first, ties in the order they were added.
        const QString ranked = QStringLiteral("Select * From CandVote Order by Numvotes Desc");
        QCOMPARE(list(dc, ranked, QStringLiteral("NumVotes")), (QStringList{"2147483647", "12", "12", "5", "0"}));
        // Either engine refuses a tally beyond 32 bits rather than storing it: the file by
        // its check, the server by its column's kind (numeric_value_out_of_range).
        const int refused = errorOf([&] {
            dc->MoveFirst();
            dc->Edit();
            dc->SetField(QStringLiteral("NumVotes"), 2147483648LL);
            dc->Update();
        });
        QCOMPARE(refused, db->onServer() ? int(store::ServerFailure) : SQLITE_CONSTRAINT_CHECK);
        QCOMPARE(db->value(QStringLiteral("SELECT max(NumVotes) FROM CandVote")).toLongLong(), 2147483647LL);
    }

    void writesThatMustNotLandLeaveTheFileAsItWas()
    {
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1', 5)"));
        RecordCursor *vote = cursor(QStringLiteral("CandVote"));
        vote->Refresh();
        db->exec(QStringLiteral("UPDATE CandVote SET NumVotes = 6")); // another copy voted
        vote->Edit();
        vote->SetField(QStringLiteral("NumVotes"), 6);
        QCOMPARE(errorOf([&] { vote->Update(); }), int(store::RowChanged));

        // A unit of two writes that fails at the second leaves neither.
        store::Connection::failWriteAfter(2);
        QCOMPARE(errorOf([&] {
                     store::Transaction tx(vote->connection());
                     append(cursor(QStringLiteral("CandInfo")), QStringLiteral("CandID"), QStringLiteral("C2"));
                     append(vote, QStringLiteral("CandID"), QStringLiteral("C2"));
                     tx.Commit();
                 }),
                 int(store::InjectedFault));
        QCOMPARE(db->count(QStringLiteral("CandInfo")), 0);
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandVote")), QStringList{"C1|6"});
        store::Connection::failWriteAfter(0);

        // Readers inside a unit see one moment: on the server another station's write
        // lands meanwhile and is seen only after it; the file keeps such a write out.
        if (db->onServer()) {
            RecordCursor *votes = cursor(QStringLiteral("CandVote")), *users = cursor(QStringLiteral("Users"));
            {
                store::Transaction tx(votes->connection());
                QCOMPARE(list(votes, QStringLiteral("Select * From CandVote"), QStringLiteral("NumVotes")),
                         QStringList{"6"});
                db->exec(
                    QStringLiteral("UPDATE CandVote SET NumVotes = 7; INSERT INTO Users VALUES ('A','a','p',true)"));
                QCOMPARE(list(votes, QStringLiteral("Select * From CandVote"), QStringLiteral("NumVotes")),
                         QStringList{"6"});
                QCOMPARE(list(users, QStringLiteral("Select * From Users"), QStringLiteral("Name")), QStringList());
                tx.Commit();
            }
            QCOMPARE(list(users, QStringLiteral("Select * From Users"), QStringLiteral("Name")), QStringList{"A"});
        }
    }

    void aFileReachedThroughALinkKeepsItsJournalBesideItAndIsWatchedThere()
    {
        if (db->onServer())
            QSKIP("the link is the file engine's");
        // An installed program reaches the file through a link in its own folder,
        // where nobody may write: the journal must go beside the real file.
        QTemporaryDir program;
        const QString link = program.path() + QStringLiteral("/candpos4.mdb");
        QVERIFY(QFile::link(db->file(), link));
        RecordCursor *vote = cursor(QStringLiteral("CandVote"));
        vote->setDatabaseName(link);
        {
            store::Transaction tx(vote->connection());
            append(vote, QStringLiteral("CandID"), QStringLiteral("C1"));
            QVERIFY(QFile::exists(db->file() + QStringLiteral("-journal")));
            QVERIFY(!QFile::exists(link + QStringLiteral("-journal")));
            tx.Commit();
        }
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID FROM CandVote")), QStringList{"C1"});

        // The file at the link's end replaced by another: no longer the one opened.
        const QString other = db->folder() + QStringLiteral("/other.mdb");
        QVERIFY(QFile::copy(db->file(), other) &&
                ::rename(QFile::encodeName(other), QFile::encodeName(db->file())) == 0);
        QCOMPARE(errorOf([&] { vote->Refresh(); }), 14); // SQLITE_CANTOPEN
        QVERIFY(QFileInfo(link).isSymLink());
    }

    void failuresOfTheEngineAreReportedNeverIgnored()
    {
        // A missing file or database is a failure and is not created; a password in the
        // connection string is refused before anything is sent.
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        QCOMPARE(errorOf([&] { dc->setDatabaseName(db->folder() + "/other.mdb"), dc->Refresh(); }), SQLITE_CANTOPEN);
        QVERIFY(!QFile::exists(db->folder() + "/other.mdb"));
        if (db->onServer()) {
            QCOMPARE(errorOf([&] { dc->setDatabaseName(db->server() + " dbname=pollaris_missing"), dc->Refresh(); }),
                     int(store::ServerUnreachable));
            QCOMPARE(errorOf([&] { dc->setDatabaseName(db->server() + " password=x"), dc->Refresh(); }),
                     int(store::ServerUnreachable));
        }
        dc->setDatabaseName(db->target());
        for (const char *bad : {"Select Name from Users", "Select * from Users; DROP TABLE Users",
                                "Select * from Users where Username ='x", "Select * from Users Order by Name Asc", ""})
            QCOMPARE(errorOf([&] { dc->setRecordSource(QString::fromUtf8(bad)), dc->Refresh(); }),
                     int(store::BadRecordSource));
        QCOMPARE(list(dc, QStringLiteral("Users"), QStringLiteral("Name")), QStringList());
        QCOMPARE(errorOf([&] { dc->MoveFirst(); }), int(store::NoCurrentRow));
        QCOMPARE(errorOf([&] { dc->Edit(); }), int(store::NoCurrentRow));
        QCOMPARE(errorOf([&] { dc->AddNew(), dc->SetField(QStringLiteral("Nick"), 1); }), int(store::UnknownField));
    }
};

POLLARIS_TEST_MAIN(StoreTest)
#include "tst_store.moc"
