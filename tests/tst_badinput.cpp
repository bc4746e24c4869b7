// Awkward entries typed or pasted into the text fields are stored and found exactly
// as the field holds them, and nothing else in the file changes.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAddUser.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

// The entry cut to a field's limit, never halving a surrogate pair.
QString held(const QString &entry, int limit)
{
    return entry.left(limit - (entry.size() > limit && entry.at(limit - 1).isHighSurrogate()));
}

// Typed a character a key when it fits; pasted when longer.
void enter(std::initializer_list<QLineEdit *> fields, const QString &text)
{
    for (QLineEdit *field : fields) {
        field->clear();
        if (text.size() > field->maxLength())
            field->insert(text); // what a paste does
        for (int i = 0, units = 1; text.size() <= field->maxLength() && i < text.size(); i += units)
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown,
                                text.mid(i, units = 1 + text.at(i).isHighSurrogate()), Qt::NoModifier);
    }
}

} // namespace

class BadInputTest : public ScreenTest {
    Q_OBJECT

private slots:
    void anAwkwardEntryIsStoredAndFoundExactly_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("quotes") << "O'Brien \"Bo\"";
        QTest::newRow("sql fragment") << "'; DROP TABLE Users; --";
        QTest::newRow("percent and underscore") << "%_";
        QTest::newRow("backslashes") << "C:\\new\\t";
        QTest::newRow("outer blanks") << "  pad  ";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("letters beyond ascii") << "Ñandú Ärger ß";
        QTest::newRow("combining marks") << "E\u0301lise Zoe\u0308";
        QTest::newRow("right to left") << "\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627";
        QTest::newRow("emoji") << "\U0001F5F3\U0001F600";
        QTest::newRow("20 characters") << "abcdefghijklmnopqrst";
        QTest::newRow("50 letters beyond ascii") << QString(50, QChar(0x00E9));
        // A character of two code units straddles each limit: 5, 8, 20 and 50.
        QTest::newRow("pasted, emoji across the limits")
            << "abcd\U0001F600e\U0001F600fghijklmno\U0001F600pqrstuvwxyzABCDEFGHIJKLMNOPQ\U0001F600STU";
    }
    void anAwkwardEntryIsStoredAndFoundExactly()
    {
        QFETCH(QString, entry);
        db->exec(
            "INSERT INTO Positions VALUES ('P1','President'); INSERT INTO CandInfo VALUES ('C1','Ann Lee','S-1','P1');"
            "INSERT INTO CandVote VALUES ('C1',3); INSERT INTO Users VALUES ('Decoy','decoy','decoypw',0)");
        auto wholeFile = [this](QStringList rows = {}) { // every row of the file (and the rows given), sorted
            rows += db->rows("SELECT 'P', *, '', '' FROM Positions UNION ALL SELECT 'C', * FROM CandInfo UNION ALL "
                             "SELECT 'T', *, '', '' FROM CandVote UNION ALL SELECT 'U', * FROM Users");
            return rows.sort(), rows;
        };
        const QString name = held(entry, 50), user = held(entry, 20), code = held(entry, 8), pos = held(entry, 5);
        const QStringList expected =
            wholeFile({QStringList{"P", pos, name, "", ""}.join('|'), QStringList{"C", code, name, user, pos}.join('|'),
                       "T|" + code + "|1||", QStringList{"U", name, user, user, "1"}.join('|')});

        click(Shell::Show<frmAdminUsers>().cmdAddUser);
        frmAddUser &account = Shell::Get<frmAddUser>();
        enter({account.txtName, account.txtStudentID, account.txtPassword}, entry);
        click(account.cmdOK);
        click(Shell::Show<frmMainAdmin>().cmdAddPos);
        enter({Shell::Get<frmAddPos>().txtPosName, Shell::Get<frmAddPos>().txtPosID}, entry);
        click(Shell::Get<frmAddPos>().cmdOK);
        click(Shell::Get<frmMainAdmin>().cmdNewCand);
        frmAddCandidate &candidate = Shell::Get<frmAddCandidate>();
        enter({candidate.txtName, candidate.txtStudentID, candidate.txtCandID}, entry);
        candidate.cmbbxPosition->setCurrentIndex(entries(candidate.lstPosID).indexOf(pos));
        click(candidate.cmdOK);

        click(Shell::Show<frmMain>().lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        enter({login.txtUsername, login.txtPassword}, entry);
        click(login.cmdOK);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(entries(ballot.lstPosID).indexOf(pos));
        ballot.lstCandidate->setCurrentRow(entries(ballot.lstCandID).indexOf(code));
        click(ballot.cmdVote);
        QCOMPARE(wholeFile(), expected);
    }

    // Control characters come only from a paste; a field drops them and keeps the rest.
    void aPasteKeepsNoControlCharacter_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("kept");
        QTest::newRow("nul") << QString::fromUtf8("ab\0cd", 5) << "abcd";
        QTest::newRow("tab") << QString("a\tb") << "ab";
        QTest::newRow("escape") << QString("\x1b[31mred") << "[31mred";
        QTest::newRow("line breaks") << QString("line\r\nbreak\n") << "linebreak";
        QTest::newRow("next line, delete") << QString("x\u0085y\u007Fz") << "xyz";
    }
    void aPasteKeepsNoControlCharacter()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, kept);
        click(Shell::Show<frmAdminUsers>().cmdAddUser);
        frmAddUser &account = Shell::Get<frmAddUser>();
        for (QLineEdit *field : {account.txtName, account.txtStudentID, account.txtPassword}) {
            QGuiApplication::clipboard()->setText(pasted);
            field->clear();
            field->paste();
        }
        click(account.cmdOK);
        QCOMPARE(db->rows("SELECT * FROM Users"), QStringList{kept + "|" + kept + "|" + kept + "|0"});
    }
};

POLLARIS_TEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
