#include "TestSupport.h"

#include "shell/Guessing.h"
#include "store/Connection.h"
#include "store/ElectionFile.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPair>
#include <QProcess>
#include <QRandomGenerator>
#include <algorithm>
#include <cstring>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdexcept>

namespace {

struct RawDb {
    explicit RawDb(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open test database");
        sqlite3_busy_timeout(db, 5000);
    }
    ~RawDb() { sqlite3_close_v2(db); }
    sqlite3 *db = nullptr;
};

QVariant column(sqlite3_stmt *stmt, int c)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER: return qlonglong(sqlite3_column_int64(stmt, c));
    case SQLITE_NULL: return QVariant();
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                 sqlite3_column_bytes(stmt, c));
    }
}

// A session of the test's own on the server.
struct RawServer {
    explicit RawServer(const QString &conninfo) : conn(PQconnectdb(conninfo.toUtf8().constData()))
    {
        if (PQstatus(conn) != CONNECTION_OK)
            throw std::runtime_error(std::string("cannot reach the test server: ") + PQerrorMessage(conn));
    }
    ~RawServer() { PQfinish(conn); }
    // Runs SQL; the result, or a failure of the test with the server's message.
    std::unique_ptr<PGresult, void (*)(PGresult *)> run(const QString &sql) const
    {
        std::unique_ptr<PGresult, void (*)(PGresult *)> r(PQexec(conn, sql.toUtf8().constData()), PQclear);
        const ExecStatusType status = PQresultStatus(r.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            QTest::qFail(qPrintable(QStringLiteral("SQL failed: %1: %2").arg(sql, PQerrorMessage(conn))), __FILE__,
                         __LINE__);
        return r;
    }
    PGconn *conn;
};

QVariant serverValue(const PGresult *r, int row, int c)
{
    if (PQgetisnull(r, row, c))
        return QVariant();
    const char *value = PQgetvalue(r, row, c);
    switch (PQftype(r, c)) {
    case 16: return qlonglong(value[0] == 't');
    case 20:
    case 21:
    case 23: return QString::fromLatin1(value).toLongLong();
    default: return QString::fromUtf8(value, PQgetlength(r, row, c));
    }
}

} // namespace

QString withOptions(const QString &conninfo, const QList<QPair<QString, QString>> &options)
{
    PQconninfoOption *parsed = PQconninfoParse(conninfo.toUtf8().constData(), nullptr);
    QStringList pairs;
    const auto add = [&](const QString &keyword, const QString &value) {
        pairs << QStringLiteral("%1='%2'").arg(keyword, QString(value).replace("\\", "\\\\").replace("'", "\\'"));
    };
    for (PQconninfoOption *o = parsed; o && o->keyword; ++o) {
        const QString keyword = QString::fromLatin1(o->keyword);
        if (o->val && *o->val &&
            std::none_of(options.begin(), options.end(), [&](const auto &option) { return option.first == keyword; }))
            add(keyword, QString::fromUtf8(o->val));
    }
    PQconninfoFree(parsed);
    for (const auto &option : options)
        add(option.first, option.second);
    return pairs.join(QLatin1Char(' '));
}

QString testServer() { return qEnvironmentVariable("POLLARIS_TEST_SERVER"); }

void addEngineRows(bool station)
{
    QTest::addColumn<Engine>("engine");
    QTest::newRow("file") << Engine::File;
    QTest::newRow("server") << Engine::Server;
    if (station)
        QTest::newRow("station") << Engine::Station;
}

ElectionFolder::ElectionFolder(Engine engine)
{
    if (engine != Engine::File) {
        m_asStation = engine == Engine::Station;
        static QAtomicInt made;
        m_database = QStringLiteral("pollaris_test_%1_%2_%3")
                         .arg(QCoreApplication::applicationPid())
                         .arg(made.fetchAndAddRelaxed(1))
                         .arg(QRandomGenerator::global()->bounded(1000000));
        RawServer(testServer()).run(QStringLiteral("CREATE DATABASE %1 STRATEGY = FILE_COPY").arg(m_database));
        m_server = withOptions(testServer(), {{"dbname", m_database}});
    }
    store::createElection(target(), QStringLiteral("admin"), QStringLiteral("secret"), false);
}

QString ElectionFolder::programServer() const
{
    return m_asStation ? withOptions(m_server, {{"user", QString::fromLatin1(store::kDefaultStationRole)}}) : m_server;
}

ElectionFolder::~ElectionFolder()
{
    if (!m_database.isEmpty())
        RawServer(testServer()).run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database));
}

void ElectionFolder::exec(const QString &sql) const { query(sql); }

QList<QVariantList> ElectionFolder::query(const QString &sql) const
{
    QList<QVariantList> result;
    if (onServer()) {
        // The server's hidden row number is no field of the election.
        RawServer raw(m_server);
        auto r = raw.run(sql);
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            QVariantList fields;
            for (int c = 0; c < PQnfields(r.get()); ++c)
                if (std::strcmp(PQfname(r.get(), c), "rowid") != 0)
                    fields << serverValue(r.get(), i, c);
            result << fields;
        }
        return result;
    }
    // Each statement in turn, the rows of all of them; the first failure fails the test.
    RawDb raw(file());
    const QByteArray utf8 = sql.toUtf8();
    for (const char *rest = utf8.constData(); *rest;) {
        sqlite3_stmt *stmt = nullptr;
        int status = sqlite3_prepare_v2(raw.db, rest, -1, &stmt, &rest);
        while (stmt && (status = sqlite3_step(stmt)) == SQLITE_ROW) {
            QVariantList fields;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                fields << column(stmt, c);
            result << fields;
        }
        sqlite3_finalize(stmt);
        if (status != SQLITE_OK && status != SQLITE_DONE) {
            QTest::qFail(qPrintable(QStringLiteral("SQL failed: %1: %2").arg(sql, sqlite3_errmsg(raw.db))), __FILE__,
                         __LINE__);
            break;
        }
    }
    return result;
}

QStringList ElectionFolder::rows(const QString &sql) const
{
    QStringList result;
    for (const QVariantList &fields : query(sql)) {
        QStringList texts;
        for (const QVariant &v : fields)
            texts << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        result << texts.join(QLatin1Char('|'));
    }
    return result;
}

Run runProgram(const QString &program, const QStringList &args, const QByteArray &input)
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    // A program that has not ended by then is killed and counts as a failure.
    const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

Run admin(const QStringList &args, const QByteArray &input)
{
    return runProgram(qEnvironmentVariable("POLLARIS_ADMIN"), args, input);
}

bool refused(const Run &r, const QString &words) { return r.exitCode > 0 && r.err.contains(words); }

void startProgramIn(const QString &folder)
{
    Shell::reset();
    Shell::setTestMode(folder);
    // Failed log-ins are counted afresh, and their waits not waited.
    Guessing::reset();
    Guessing::setPause([](int) {});
}

void startProgramOn(const ElectionFolder &election)
{
    startProgramIn(election.folder());
    Shell::setTestMode(election.folder(), election.programServer());
}

QString box(Msg::Icon icon, const QString &title, const QString &text)
{
    static const char *names[] = {"Critical", "Exclamation", "Question", "Information"};
    return QStringLiteral("%1|%2|%3").arg(QString::fromLatin1(names[int(icon)]), title, text);
}

QStringList shownBoxes()
{
    QStringList result;
    for (const auto &shown : Msg::takeShown())
        result << box(shown.icon, shown.title, shown.text);
    return result;
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

void click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton); }

QStringList press(QWidget *widget)
{
    click(widget);
    return shownBoxes();
}

QStringList critical(const QString &text, const QString &title) { return {box(Msg::Icon::Critical, title, text)}; }

void type(QWidget *field, const QString &text)
{
    auto *edit = qobject_cast<QLineEdit *>(field);
    if (edit)
        edit->clear();
    QTest::keyClicks(field, text);
}

void ScreenTest::init()
{
    db = std::make_unique<ElectionFolder>();
    startProgramIn(db->folder());
}

void ScreenTest::cleanup()
{
    const QStringList unread = shownBoxes();
    const bool unusedAnswer = Msg::hasUnusedAnswer();
    store::Connection::failWriteAfter(0);
    store::Connection::setStatementObserver(nullptr);
    store::Connection::loseAnswerTo(QString());
    Shell::reset();
    QCOMPARE(unread, QStringList());
    QVERIFY2(!unusedAnswer, "a preset answer was left unused");
}

void anotherStationBefore(const ElectionFolder &election, const QString &before, const QString &sql)
{
    auto done = std::make_shared<bool>(false);
    store::Connection::setStatementObserver([&election, before, sql, done](const QString &seen) {
        if (!*done && seen.startsWith(before, Qt::CaseInsensitive)) {
            *done = true;
            election.exec(sql);
        }
    });
}

struct HeldElection::Holder {
    std::unique_ptr<RawDb> file;
    std::unique_ptr<RawServer> server;
};

HeldElection::HeldElection(const ElectionFolder &election) : m_holder(new Holder)
{
    if (election.onServer()) {
        m_holder->server = std::make_unique<RawServer>(election.server());
        m_holder->server->run(QStringLiteral("BEGIN; LOCK TABLE pollaris_units IN EXCLUSIVE MODE"));
    } else {
        m_holder->file = std::make_unique<RawDb>(election.file());
        if (sqlite3_exec(m_holder->file->db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            QTest::qFail("cannot hold the file's write lock", __FILE__, __LINE__);
    }
}

HeldElection::~HeldElection()
{
    if (m_holder->server)
        m_holder->server->run(QStringLiteral("ROLLBACK"));
    if (m_holder->file)
        sqlite3_exec(m_holder->file->db, "ROLLBACK", nullptr, nullptr, nullptr);
}
