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

// Typed a character a key when it fits; pasted when longer, or when it holds a
// control character, which only a paste brings.
void enter(std::initializer_list<QLineEdit *> fields, const QString &text)
{
    const bool paste =
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    for (QLineEdit *field : fields) {
        field->clear();
        if (paste || text.size() > field->maxLength()) {
            QGuiApplication::clipboard()->setText(text);
            field->paste();
            continue;
        }
        for (int i = 0, units = 1; i < text.size(); i += units)
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
        QTest::addColumn<QString>("kept"); // what the fields keep of it
        const auto row = [](const char *name, const QString &entry, const QString &kept = {}) {
            QTest::newRow(name) << entry << (kept.isEmpty() ? entry : kept);
        };
        row("quotes and sql", "O'Brien \"Bo\"'; DROP TABLE Users; --");
        row("patterns and backslashes", "\\%_C:\\new\\t");
        row("outer blanks", "  pad  ");
        row("blanks only", "   ");
        row("letters beyond ascii", "Ñandú Ärger ß");
        row("combining marks", "E\u0301lise Zoe\u0308");
        row("emoji", "\U0001F5F3\U0001F600");
        row("50 letters beyond ascii", QString(50, QChar(0x00E9)));
        // A character of two code units straddles each limit: 5, 8, 20 and 50.
        row("pasted, emoji across the limits",
            "abcd\U0001F600e\U0001F600fghijklmno\U0001F600pqrstuvwxyzABCDEFGHIJKLMNOPQ\U0001F600STU");
        // Control characters come only from a paste; a field drops them and keeps the rest.
        row("pasted nul", QString::fromUtf8("ab\0cd", 5), "abcd");
        row("pasted line breaks", "a\r\nb\n", "ab");
        row("pasted next line, delete", "x\u0085y\u007Fz", "xyz");
    }
    void anAwkwardEntryIsStoredAndFoundExactly()
    {
        QFETCH(QString, entry);
        QFETCH(QString, kept);
        db->exec(
            "INSERT INTO Positions VALUES ('P1','President'); INSERT INTO CandInfo VALUES ('C1','Ann Lee','S-1','P1');"
            "INSERT INTO CandVote VALUES ('C1',3); INSERT INTO Users VALUES ('Decoy','decoy','decoypw',0)");
        auto wholeFile = [this](QStringList rows = {}) { // every row of the file (and the rows given), sorted
            rows += db->rows("SELECT 'P', *, '', '' FROM Positions UNION ALL SELECT 'C', * FROM CandInfo UNION ALL "
                             "SELECT 'T', *, '', '' FROM CandVote UNION ALL SELECT 'U', * FROM Users");
            return rows.sort(), rows;
        };
        const QString name = held(kept, 50), user = held(kept, 20), code = held(kept, 8), pos = held(kept, 5);
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
};

POLLARIS_TEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
