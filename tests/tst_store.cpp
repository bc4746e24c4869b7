// The record cursor on a file and a server: sequences, equality, quoting, durability, limits, failures.

#include "TestSupport.h"

#include "screens/frmAdminUsers.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <cstdio>
#include <functional>
#include <sqlite3.h>
#include <unistd.h>

using store::RecordCursor;

// One field of every row as the list screens read it: count at the last, then first to end.
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

// Append as the add screens do, after the last row of a fresh read.
static void append(RecordCursor *dc, const QString &field, const QVariant &value)
{
    dc->Refresh();
    if (!dc->BOF())
        dc->MoveLast(), dc->MoveNext();
    dc->AddNew(), dc->SetField(field, value), dc->Update();
}

static int errorOf(const std::function<void()> &action)
{
    try {
        return action(), 0;
    } catch (const store::StoreError &e) {
        return e.number();
    }
}

class StoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;
    std::unique_ptr<QObject> owner;
    const int defaultWait = store::Connection::lockWaitMs();

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
    void cleanup()
    {
        owner.reset(), store::Connection::closeAll(), store::Connection::failWriteAfter(0);
        store::Connection::setStatementObserver(nullptr), store::Connection::setLockWaitMs(defaultWait);
    }

    void sequencesOnEmptyOneAndManyRowsReachTheFileAndLast()
    {
        RecordCursor *dc = cursor("Positions");
        const QString all = QStringLiteral("Select * from Positions");
        const auto at = [dc] { return dc->FieldText("PosID"); };
        QCOMPARE(list(dc, all, "PosID"), QStringList());
        for (const char *id : {"P1", "P3", "P2"})
            append(dc, "PosID", QString::fromLatin1(id));
        // Rows come in the order they were added; a key in another case is the same key.
        QCOMPARE(db->rows("SELECT PosID FROM Positions") + list(dc, all, "posid"),
                 (QStringList{"P1", "P3", "P2", "P1", "P3", "P2"}));
        QCOMPARE(list(dc, "Select * from Positions where PosID ='p3'", "PosID"), QStringList{"P3"});
        // Change the looked-up row; fields by name in any case.
        dc->MoveFirst(), dc->Edit(), dc->SetField("POSNAME", QStringLiteral("O'Name")), dc->Update();
        QCOMPARE(db->rows("SELECT * FROM Positions WHERE PosName IS NOT NULL"), QStringList{"P3|O'Name"});
        // A delete moves on to the next row.
        dc->setRecordSource(all), dc->Refresh(), dc->Delete(), dc->MoveNext();
        QCOMPARE(at(), QStringLiteral("P3"));
        // Deleted rows are passed over by every move and left out of the count.
        append(dc, "PosID", "P4");
        dc->Refresh(), dc->MoveLast(), dc->Delete(), dc->MoveFirst(), dc->Delete();
        QVERIFY(dc->RecordCount() == 1 && (dc->MoveLast(), at()) == "P2" && (dc->MoveFirst(), at()) == "P2");
        dc->Delete(), dc->MoveNext();
        QVERIFY(dc->EOF_() && dc->RecordCount() == 0);
        QCOMPARE(errorOf([dc] { dc->MoveLast(); }), int(store::NoCurrentRow));
        QCOMPARE(db->count("Positions"), 0);
        // Closed: a sound file with nothing beside it (nothing for a server), where nothing of a
        // deleted row lingers in the free space (think of a voter's password).
        owner.reset(), store::Connection::closeAll();
        QCOMPARE(QDir(db->folder()).entryList(QDir::Files),
                 db->onServer() ? QStringList() : QStringList{"candpos4.mdb"});
        QFile file(db->file());
        QVERIFY(db->onServer() || (db->value("PRAGMA integrity_check") == "ok" && file.open(QIODevice::ReadOnly) &&
                                   !file.readAll().contains("O'Name")));
    }

    // A character the server cannot store finds nothing, not what precedes it; final and plain sigma
    // are one letter, dotless ı and i two; the classic injection finds only its own text. Results
    // rank highest first, ties in the order they were added, up to 32 bits.
    void equalityIgnoresCaseOfEveryLetterAndQuotesAreNeverSql()
    {
        for (const char *name : {"s100", "x'' OR ''1''=''1", "i", "\u03C3"})
            db->exec(QStringLiteral("INSERT INTO Users VALUES ('n', '%1', 'p', false)").arg(QString::fromUtf8(name)));
        RecordCursor *dc = cursor("Users");
        const QString tricky = QStringLiteral("x' OR '1'='1");
        const QList<std::pair<QString, QString>> cases = {
            {tricky, tricky}, {QStringLiteral("s100") + QChar(0), ""}, {"\u03C2", "\u03C3"}, {"\u0131", ""}};
        for (const auto &[typed, found] : cases)
            QCOMPARE(list(dc, "Select * From Users where Username ='" + typed + "'", "Username"),
                     found.isEmpty() ? QStringList() : QStringList{found});
        QCOMPARE(db->count("Users"), 4);

        db->exec("INSERT INTO CandVote VALUES ('a',5),('b',12),('c',0),('d',12),('max',2147483647)");
        QCOMPARE(list(cursor("CandVote"), "Select * From CandVote Order by Numvotes Desc", "CandID"),
                 (QStringList{"max", "b", "d", "a", "c"}));
    }

    // A count, or the last row asked for nothing, reads none of the rest; moving on past the first
    // part reads it once. Accounts deleted meanwhile at another station shorten the list.
    void aLongResultIsReadInPartsAndItsRestWhenNeeded()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 2500) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p', false FROM n"));
        RecordCursor *dc = cursor("Users");
        int rest = 0; // reads of the rest
        store::Connection::setStatementObserver(
            [&rest](const QString &sql) { rest += sql.contains(QStringLiteral("rowid >")); });
        dc->Refresh(), dc->MoveLast();
        QVERIFY(dc->RecordCount() == 2500 && rest == 0);
        QVERIFY(dc->FieldText("Username") == "u2500" && rest == 1);

        // Deleting the last row of the first part, then moving on, and counting.
        dc->Refresh();
        for (int i = 1; i < RecordCursor::kFirstRows; ++i)
            dc->MoveNext();
        QCOMPARE(dc->FieldText("Username"), QStringLiteral("u1000"));
        dc->Delete(), dc->MoveNext();
        QCOMPARE(dc->FieldText("Username"), QStringLiteral("u1001"));
        QVERIFY(dc->RecordCount() == 2499 && db->count("Users") == 2499);

        startProgramOn(*db);
        store::Connection::setStatementObserver([this](const QString &sql) {
            if (sql.contains(QStringLiteral("rowid >")))
                db->exec(QStringLiteral("DELETE FROM Users WHERE Username IN ('u2000', 'u2400')"));
        });
        frmAdminUsers &panel = Shell::Show<frmAdminUsers>();
        store::Connection::setStatementObserver({});
        QCOMPARE(panel.lstUser->count(), 2497);
        QCOMPARE(panel.lstUser->item(2496)->text(), QStringLiteral("u2500"));
        QCOMPARE(shownBoxes(), QStringList());
        Shell::reset();
    }

    void writesThatMustNotLandLeaveTheFileAsItWas()
    {
        db->exec("INSERT INTO CandVote VALUES ('C1', 5)");
        RecordCursor *vote = cursor("CandVote");
        vote->Refresh();
        db->exec("UPDATE CandVote SET NumVotes = 6"); // another copy voted
        vote->Edit(), vote->SetField("NumVotes", 6);
        QCOMPARE(errorOf([&] { vote->Update(); }), int(store::RowChanged));
        // A tally beyond 32 bits is refused: by the file's check, by the server's column kind.
        vote->Refresh(), vote->Edit(), vote->SetField("NumVotes", 2147483648LL);
        QCOMPARE(errorOf([&] { vote->Update(); }),
                 db->onServer() ? int(store::ServerFailure) : SQLITE_CONSTRAINT_CHECK);

        // A unit of two writes that fails at the second leaves neither.
        store::Connection::failWriteAfter(2);
        QCOMPARE(errorOf([&] {
                     store::Transaction tx(vote->connection());
                     append(cursor("CandInfo"), QStringLiteral("CandID"), QStringLiteral("C2"));
                     append(vote, "CandID", "C2");
                     tx.Commit();
                 }),
                 int(store::InjectedFault));
        QCOMPARE(db->count("CandInfo"), 0);
        QCOMPARE(db->rows("SELECT * FROM CandVote"), QStringList{"C1|6"});
        store::Connection::failWriteAfter(0);

        // A unit that cannot get the election within the wait is busy, nothing begun; later it goes through.
        store::Connection::setLockWaitMs(300);
        RecordCursor *holder = cursor("CandVote"), *waiter = cursor("CandVote");
        waiter->setDatabaseName(db->onServer() ? db->target() + QStringLiteral(" application_name=second")
                                               : db->folder() + QStringLiteral("//candpos4.mdb"));
        {
            store::Transaction held(holder->connection());
            append(holder, "CandID", "C8");
            try {
                store::Transaction tx(waiter->connection());
                QFAIL("a unit began while another held the election");
            } catch (const store::StoreError &e) {
                QVERIFY2(e.outcome() == store::StoreError::Outcome::Busy &&
                             e.text().contains(db->onServer() ? "55P03" : "database is locked"),
                         qPrintable(e.text()));
            }
            QVERIFY(!waiter->connection().inTransaction());
            held.Commit();
        }
        store::Transaction tx(waiter->connection());
        append(waiter, "CandID", "C9");
        tx.Commit();
        QCOMPARE(db->rows("SELECT CandID FROM CandVote"), (QStringList{"C1", "C8", "C9"}));
    }

    // Installed, the file is reached through a link: the journal goes beside the real file, a file
    // replaced at the link's end is not the one opened, and one that cannot be opened is named at the
    // link's end, a missing one told from one this account may not use.
    void aFileReachedThroughALinkKeepsItsJournalBesideItAndIsWatchedThere()
    {
        if (db->onServer())
            QSKIP("the link is the file engine's");
        QTemporaryDir program;
        const QString link = program.path() + QStringLiteral("/candpos4.mdb");
        QVERIFY(QFile::link(db->file(), link));
        RecordCursor *vote = cursor("CandVote");
        vote->setDatabaseName(link);
        {
            store::Transaction tx(vote->connection());
            append(vote, "CandID", "C1");
            QVERIFY(QFile::exists(db->file() + "-journal") && !QFile::exists(link + "-journal"));
            tx.Commit();
        }
        QCOMPARE(db->rows("SELECT CandID FROM CandVote"), QStringList{"C1"});
        const QString other = db->folder() + QStringLiteral("/other.mdb");
        QVERIFY(QFile::copy(db->file(), other) &&
                ::rename(QFile::encodeName(other), QFile::encodeName(db->file())) == 0);
        QCOMPARE(errorOf([&] { vote->Refresh(); }), 14); // SQLITE_CANTOPEN
        QVERIFY(QFileInfo(link).isSymLink());

        const auto textOf = [&] {
            store::Connection::closeAll();
            try {
                store::Connection::open(link);
            } catch (const store::StoreError &e) {
                return e.text();
            }
            return QString();
        };
        const QString cannot =
            QStringLiteral("unable to open database file: %1 (a link to %2): ").arg(link, db->file());
        QVERIFY(QFile::setPermissions(db->file(), QFile::ReadOwner));
        const QString unreadable = textOf();
        if (::geteuid() != 0) // root may write any file
            QCOMPARE(unreadable, cannot + "this account may not read and write it (Permission denied)");
        QVERIFY(QFile::rename(db->file(), db->file() + ".away"));
        QCOMPARE(textOf(), cannot + "there is no such file");
        QVERIFY(QFile::rename(db->file() + ".away", db->file()));
        QVERIFY(QFile::setPermissions(db->file(), QFile::ReadOwner | QFile::WriteOwner));
    }

    void failuresOfTheEngineAreReportedNeverIgnored()
    {
        // A missing database is not created (a missing file: the faults test).
        RecordCursor *dc = cursor("Users");
        if (db->onServer())
            QCOMPARE(errorOf([&] { dc->setDatabaseName(db->server() + " dbname=pollaris_missing"), dc->Refresh(); }),
                     int(store::ServerUnreachable));
        dc->setDatabaseName(db->target());
        for (const char *bad : {"Select Name from Users", "Select * from Users; DROP TABLE Users",
                                "Select * from Users where Username ='x", "Select * from Users Order by Name Asc", ""})
            QCOMPARE(errorOf([&] { dc->setRecordSource(QString::fromUtf8(bad)), dc->Refresh(); }),
                     int(store::BadRecordSource));
        QCOMPARE(list(dc, "Users", "Name"), QStringList());
        QCOMPARE(errorOf([&] { dc->MoveFirst(); }), int(store::NoCurrentRow));
        QCOMPARE(errorOf([&] { dc->Edit(); }), int(store::NoCurrentRow));
        QCOMPARE(errorOf([&] { dc->AddNew(), dc->SetField("Nick", 1); }), int(store::UnknownField));
    }
};

POLLARIS_TEST_MAIN(StoreTest)
#include "tst_store.moc"
