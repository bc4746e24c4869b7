// The record cursor against a real election file: the sequences the screens use,
// text equality, quoting, durability, limits and the engine's failures.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

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
        return c->setDatabaseName(db->file()), c;
    }

private slots:
    void init() { db = std::make_unique<ElectionFolder>(), owner = std::make_unique<QObject>(); }
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

        // Closed, a plain SQLite file with nothing beside it; durable when reopened.
        owner.reset();
        store::Connection::closeAll();
        QCOMPARE(QDir(db->folder()).entryList(QDir::Files), QStringList{"candpos4.mdb"});
        QCOMPARE(db->value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        owner = std::make_unique<QObject>();
        QCOMPARE(list(cursor(QStringLiteral("Positions")), all, QStringLiteral("PosID")), (QStringList{"P3", "P2"}));
    }

    void equalityIgnoresCaseOfEveryLetterAndQuotesAreNeverSql()
    {
        db->exec(
            QStringLiteral("INSERT INTO Users VALUES ('Ann Lee','s100','pw1',0),('Bo O''Brien','O''Brien','pw2',0),"
                           "('Ärger Ärgerlich','ärger','pw3',1),('Tricky','x'' OR ''1''=''1','pw4',0)"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        const auto find = [&](const QString &v) {
            return list(dc, "Select * From Users where Username ='" + v + "'", QStringLiteral("Name"));
        };
        // The classic injection finds only the account whose name is that very text.
        for (const auto &[typed, name] : QList<QPair<QString, QString>>{{"S100", "Ann Lee"},
                                                                        {"ÄRGER", "Ärger Ärgerlich"},
                                                                        {"o'brien", "Bo O'Brien"},
                                                                        {"x' OR '1'='1", "Tricky"}})
            QCOMPARE(find(typed), QStringList{name});
        // No prefixes, no patterns, no second statement.
        for (const char *miss : {"s10", "s1%", "s_00", "'; DROP TABLE Users; --"})
            QCOMPARE(find(QString::fromUtf8(miss)), QStringList());
        QCOMPARE(db->count(QStringLiteral("Users")), 4);
    }

    void rangesBeyondSixteenBits()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 40000) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p', 0 FROM n;"
                                "INSERT INTO CandVote VALUES ('a',5),('b',12),('c',0),('d',12),('max',2147483647)"));
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        // Exactly 40,000 rows, the last of them readable.
        QCOMPARE(list(dc, QStringLiteral("Select * from Users"), QStringLiteral("Username")).mid(39998),
                 (QStringList{"u39999", "u40000"}));

        // The results order: highest first, ties in the order they were added.
        const QString ranked = QStringLiteral("Select * From CandVote Order by Numvotes Desc");
        QCOMPARE(list(dc, ranked, QStringLiteral("NumVotes")), (QStringList{"2147483647", "12", "12", "5", "0"}));
        // The file refuses a tally beyond 32 bits rather than storing it.
        QVERIFY(errorOf([&] {
            dc->MoveFirst();
            dc->Edit();
            dc->SetField(QStringLiteral("NumVotes"), 2147483648LL);
            dc->Update();
        }));
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
    }

    void aFileReachedThroughALinkKeepsItsJournalBesideItAndIsWatchedThere()
    {
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
        // A missing file is a failure and is not created.
        RecordCursor *dc = cursor(QStringLiteral("Users"));
        QVERIFY(errorOf([&] { dc->setDatabaseName(db->folder() + "/other.mdb"), dc->Refresh(); }));
        QVERIFY(!QFile::exists(db->folder() + "/other.mdb"));
        dc->setDatabaseName(db->file());
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
