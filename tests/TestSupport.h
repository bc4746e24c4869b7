#pragma once

#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>
#include <memory>

class QListWidget;

// The places an election can be: the file, or a PostgreSQL server, which the
// program reaches as the administrators' role (Server) or as the stations' role
// (Station); the test itself always reaches it as the administrators'.
enum class Engine { File, Server, Station };
Q_DECLARE_METATYPE(Engine)

// The server the tests may use: a libpq connection string to a maintenance
// database (POLLARIS_TEST_SERVER, set by the test command), or empty.
QString testServer();
// For initTestCase_data(): the global column "engine", one row per engine, so
// that every test of the class runs on the file and on the server; with
// station, also on the server as a polling station.
void addEngineRows(bool station = false);
// In init(): the engine of the current row, in a variable named engine. Without
// a server the server's rows are skipped, with a message; under the test command
// (POLLARIS_REQUIRE_SERVER) they fail instead.
#define FETCH_ENGINE(engine)                                                                                           \
    QFETCH_GLOBAL(Engine, engine);                                                                                     \
    if (engine != Engine::File && testServer().isEmpty()) {                                                            \
        if (qEnvironmentVariableIsSet("POLLARIS_REQUIRE_SERVER"))                                                      \
            QFAIL("POLLARIS_REQUIRE_SERVER is set but POLLARIS_TEST_SERVER is not");                                   \
        QSKIP("no PostgreSQL server for the tests: run bash scripts/test, or set POLLARIS_TEST_SERVER");               \
    }

// An election in a fresh temporary folder, which is also the program's folder for
// the screens under test: the file candpos4.mdb there, or a fresh database of its
// own on the test server, dropped with it.
class ElectionFolder {
public:
    // Creates the election with the five tables and the administrator admin/secret.
    explicit ElectionFolder(Engine engine = Engine::File);
    ~ElectionFolder();
    ElectionFolder(const ElectionFolder &) = delete;
    ElectionFolder &operator=(const ElectionFolder &) = delete;
    QString folder() const { return m_dir.path(); }
    QString file() const { return m_dir.path() + QStringLiteral("/candpos4.mdb"); }
    bool onServer() const { return !m_server.isEmpty(); }
    // The server's connection string, for the administrators' role; empty for a file.
    QString server() const { return m_server; }
    // True when the program reaches the election as a polling station.
    bool asStation() const { return m_asStation; }
    // The connection string with which the program reaches the server.
    QString programServer() const;
    // What the store opens: the file's path or the server's connection string.
    QString target() const { return onServer() ? m_server : file(); }
    // The program's command line for this election.
    QStringList programArguments() const
    {
        return onServer() ? QStringList{"--server", programServer()} : QStringList();
    }
    // The arguments that name this election to pollaris-admin.
    QStringList toolArguments() const { return onServer() ? QStringList{"--server", m_server} : QStringList{file()}; }

    // Runs SQL straight on the election, independent of the program's own store.
    // On the server a flag reads as 0 or 1, as in the file, and the hidden row
    // number is left out of the rows, as the program's `*` leaves it out.
    void exec(const QString &sql) const;
    QList<QVariantList> query(const QString &sql) const;
    QVariant value(const QString &sql) const { return query(sql).value(0).value(0); }
    qint64 count(const QString &table) const
    {
        return value(QStringLiteral("SELECT count(*) FROM ") + table).toLongLong();
    }
    // Every row of a query, its fields joined by '|', rows in the order returned.
    QStringList rows(const QString &sql) const;

private:
    QTemporaryDir m_dir;
    QString m_server;
    QString m_database;
    bool m_asStation = false;
};

// The connection string with some of its options replaced or added.
QString withOptions(const QString &conninfo, const QList<QPair<QString, QString>> &options);

// A program run to its end: its exit status (-1 if it crashed or did not end) and
// what it wrote on standard output and standard error.
struct Run {
    int exitCode = -1;
    QString out, err;
};
// Runs a program with the given standard input, closed after it.
Run runProgram(const QString &program, const QStringList &args, const QByteArray &input = {});
// Runs pollaris-admin, the one the build made (POLLARIS_ADMIN).
Run admin(const QStringList &args, const QByteArray &input = {});
// A refusal: a failure status, with the given words on standard error.
bool refused(const Run &r, const QString &words);

// Puts the program into test mode on the given folder, with a fresh set of
// screens and no message boxes on record.
void startProgramIn(const QString &folder);
// The same on an election, wherever it is.
void startProgramOn(const ElectionFolder &election);

// The message boxes shown since the last call, as "icon|title|text".
QStringList shownBoxes();
QString box(Msg::Icon icon, const QString &title, const QString &text);

// The texts of a list's entries, in order.
QStringList entries(const QListWidget *list);

// Clicks a push button or clickable label as a user would.
void click(QWidget *widget);
// Clicks, and returns the message boxes the click showed.
QStringList press(QWidget *widget);
// The one refusal box of the given text, as shownBoxes lists it.
QStringList critical(const QString &text, const QString &title = QStringLiteral("Pollaris"));
// Replaces the text of a field by typing, as a user would.
void type(QWidget *field, const QString &text);

// A log-in as a user makes it: the link clicked (on the main menu), the user name and
// password typed, OK pressed. Returns the log-in screen.
template <class LogIn> LogIn &logIn(QWidget *link, const QString &user, const QString &password)
{
    click(link);
    LogIn &form = Shell::Get<LogIn>();
    type(form.txtUsername, user);
    type(form.txtPassword, password);
    click(form.cmdOK);
    return form;
}

// Runs the SQL on the election, as another station would, just before the program's
// first statement that starts with `before` (letter case ignored). The test's cleanup
// stops watching.
void anotherStationBefore(const ElectionFolder &election, const QString &before, const QString &sql);

// Another station in the middle of a save, holding the election for as long as this
// object lives: the file's write lock, or the lock every unit on a server takes first.
class HeldElection {
public:
    explicit HeldElection(const ElectionFolder &election);
    ~HeldElection();
    HeldElection(const HeldElection &) = delete;
    HeldElection &operator=(const HeldElection &) = delete;

private:
    struct Holder;
    std::unique_ptr<Holder> m_holder;
};

// The base of a test class that drives the screens: each test starts with a fresh
// election file in the program's folder and a fresh set of screens, and ends by
// checking that every message box it caused was read and that no preset answer
// was left unused.
class ScreenTest : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<ElectionFolder> db;

protected slots:
    void init();
    void cleanup();
};

#define POLLARIS_TEST_MAIN(TestClass)                                                                                  \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        Shell::Application app(argc, argv);                                                                            \
        TestClass tc;                                                                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
