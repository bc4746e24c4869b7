// Awkward entries typed or pasted into every text field of every screen: quotes,
// SQL fragments, pattern characters, backslashes, blanks, letters beyond ASCII,
// combining marks, right-to-left text, emoji, and texts at and beyond each
// field's limit. Each is stored and found exactly as the field holds it (a text
// longer than the field is cut to it), and nothing else in the file changes.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAddUser.h"
#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmChangeAdminPW.h"
#include "screens/frmEditCand.h"
#include "screens/frmEditUser.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "shell/modGlobalVar.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

namespace {

// What a field of the given limit holds after the entry: the entry cut to the
// limit, never half of a character that takes two code units.
QString held(const QString &entry, int limit)
{
    QString kept = entry.left(limit);
    if (!kept.isEmpty() && kept.back().isHighSurrogate())
        kept.chop(1);
    return kept;
}

// Enters a text into a field as a user would: typed when it fits, pasted when
// it is longer than the field takes.
void enter(QLineEdit *field, const QString &text)
{
    field->clear();
    field->setFocus();
    if (text.size() <= field->maxLength()) {
        // One key a character, as a keyboard or input method sends it: a
        // character of two code units comes as one key.
        for (int i = 0; i < text.size(); ++i) {
            const int units = text.at(i).isHighSurrogate() ? 2 : 1;
            const QString key = text.mid(i, units);
            QTest::sendKeyEvent(QTest::Press, field, Qt::Key_unknown, key, Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, field, Qt::Key_unknown, key, Qt::NoModifier);
            i += units - 1;
        }
    } else {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }
}

// The same text with the letter case of each letter turned over, letter for letter.
QString otherCase(const QString &text)
{
    QString turned = text;
    for (QChar &c : turned)
        if (!c.isSurrogate())
            c = c.isUpper() ? c.toLower() : c.toUpper();
    return turned;
}

QString quotedSql(const QString &text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

int indexOf(const QListWidget *list, const QString &text)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text)
            return i;
    return -1;
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

const QString kWarning = box(Msg::Icon::Exclamation, QStringLiteral("Pollaris"), QStringLiteral("Warning! Users can only login once"));

} // namespace

class BadInputTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    // Every row of the file, each marked with its table, in a fixed order.
    QStringList wholeFile() const
    {
        QStringList all;
        for (const char *table : {"Positions", "CandInfo", "CandVote", "Users", "Administrators"})
            for (const QString &row : db->rows(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table))))
                all << QLatin1String(table) + QLatin1Char(':') + row;
        all.sort();
        return all;
    }
    static QStringList sorted(QStringList rows)
    {
        rows.sort();
        return rows;
    }

    void seed()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President'),('P2','Secretary')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Ann Lee','S-1','P1'),('C2','Bo Tan','S-2','P2')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1',3),('C2',5)"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Decoy','decoy','decoypw',0)"));
    }

    frmMainAdmin &openCandidatesPanel()
    {
        Shell::Show<frmAdminStart>();
        click(Shell::Get<frmAdminStart>().cmdCandPos);
        return Shell::Get<frmMainAdmin>();
    }
    frmAdminUsers &openUsersPanel()
    {
        Shell::Show<frmAdminStart>();
        click(Shell::Get<frmAdminStart>().cmdUsers);
        return Shell::Get<frmAdminUsers>();
    }
    void voterLogIn(const QString &user, const QString &password)
    {
        Shell::Show<frmMain>();
        click(Shell::Get<frmMain>().lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        enter(login.txtUsername, user);
        enter(login.txtPassword, password);
        click(login.cmdOK);
    }

    // The same awkward entries for every group.
    static void entryRows()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("single quote") << QStringLiteral("O'Brien");
        QTest::newRow("double quotes") << QStringLiteral("say \"yes\"");
        QTest::newRow("sql fragment") << QStringLiteral("'; DROP TABLE Users; --");
        QTest::newRow("percent and underscore") << QStringLiteral("100%_s");
        QTest::newRow("percent alone") << QStringLiteral("%");
        QTest::newRow("underscore alone") << QStringLiteral("_");
        QTest::newRow("backslashes") << QStringLiteral("C:\\new\\t");
        QTest::newRow("outer blanks") << QStringLiteral("  pad  ");
        QTest::newRow("blanks only") << QStringLiteral("   ");
        QTest::newRow("letters beyond ascii") << QStringLiteral("Ñandú Ärger ß");
        QTest::newRow("combining marks") << QStringLiteral("E\u0301lise Zoe\u0308");
        QTest::newRow("right to left") << QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627");
        QTest::newRow("emoji") << QStringLiteral("\U0001F5F3\U0001F600");
        QTest::newRow("5 characters") << QStringLiteral("abcde");
        QTest::newRow("8 characters") << QStringLiteral("abcdefgh");
        QTest::newRow("20 characters") << QStringLiteral("abcdefghijklmnopqrst");
        QTest::newRow("50 characters") << QStringLiteral("The quick brown fox jumps over the lazy dog 123456");
        QTest::newRow("50 letters beyond ascii") << QString(50, QChar(0x00E9));
        QTest::newRow("pasted 57 characters") << QStringLiteral("The quick brown fox jumps over the lazy dog 1234567890ab");
        QTest::newRow("pasted, emoji across the limit")
            // A character of two code units straddles each limit: 5, 8, 20 and 50.
            << QStringLiteral("abcd\U0001F600e\U0001F600fghijklmno\U0001F600pqrstuvwxyzABCDEFGHIJKLMNOPQ\U0001F600STU");
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        seed();
        startProgramIn(db->folder());
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        QVERIFY(!Shell::endedWith());
        Shell::reset();
    }

    void fieldsCutEntriesToTheirLimitAndNoFurther_data() { entryRows(); }
    void fieldsCutEntriesToTheirLimitAndNoFurther()
    {
        // What each field holds, before anything is stored.
        QFETCH(QString, entry);
        frmAddCandidate &dialog = Shell::Show<frmAddCandidate>();
        for (QLineEdit *field : {dialog.txtName, dialog.txtStudentID, dialog.txtCandID}) {
            enter(field, entry);
            QCOMPARE(field->text(), held(entry, field->maxLength()));
        }
        frmAddPos &pos = Shell::Show<frmAddPos>();
        enter(pos.txtPosID, entry);
        QCOMPARE(pos.txtPosID->text(), held(entry, 5));
    }

    void voterLogInFindsTheAccountExactly_data() { entryRows(); }
    void voterLogInFindsTheAccountExactly()
    {
        QFETCH(QString, entry);
        const QString user = held(entry, 20), password = held(entry, 20);
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Owner',%1,%2,0)").arg(quotedSql(user), quotedSql(password)));
        QStringList expected = wholeFile();
        expected.replaceInStrings(QStringLiteral("Users:Owner|%1|%2|0").arg(user, password),
                                  QStringLiteral("Users:Owner|%1|%2|1").arg(user, password));

        // A password with one more blank is not the password.
        if (password.size() < 20) {
            voterLogIn(entry, password + QLatin1Char(' '));
            QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Password!")});
        }
        voterLogIn(entry, entry);
        QCOMPARE(shownBoxes(), QStringList{kWarning});
        QCOMPARE(modGlobalVar::VoterUser, user);
        QCOMPARE(modGlobalVar::VoterPass, password);
        QCOMPARE(Shell::Get<frmVoter>().lblWelcome->text(), QStringLiteral("Welcome, ") + user);
        QCOMPARE(wholeFile(), expected);
    }

    void administratorLogInAndNewPasswordAreExact_data() { entryRows(); }
    void administratorLogInAndNewPasswordAreExact()
    {
        QFETCH(QString, entry);
        const QString name = held(entry, 50);
        db->exec(QStringLiteral("INSERT INTO Administrators VALUES (%1,'old')").arg(quotedSql(name)));
        QStringList expected = wholeFile();

        click(Shell::Show<frmMain>().lblLogAdmin);
        frmAdminLogIn &login = Shell::Get<frmAdminLogIn>();
        enter(login.txtUsername, entry);
        enter(login.txtPassword, QStringLiteral("old"));
        click(login.cmdOK);
        QVERIFY(Shell::Get<frmAdminStart>().isVisible());
        QCOMPARE(modGlobalVar::AdminUser, name);
        QCOMPARE(wholeFile(), expected);

        // The new password is stored whole, on the account logged in and no other.
        click(Shell::Get<frmAdminStart>().cmdEditProf);
        frmChangeAdminPW &change = Shell::Get<frmChangeAdminPW>();
        QCOMPARE(change.lblAdminUsername->text(), name);
        enter(change.txtPassword1, entry);
        enter(change.txtPassword2, entry + QStringLiteral("x"));
        if (entry.size() < 50) {
            click(change.cmdOK);
            QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Please retype your passwords!")});
            enter(change.txtPassword2, entry);
        }
        click(change.cmdOK);
        expected.replaceInStrings(QStringLiteral("Administrators:%1|old").arg(name),
                                  QStringLiteral("Administrators:%1|%2").arg(name, held(entry, 50)));
        QCOMPARE(wholeFile(), sorted(expected));
        QCOMPARE(db->value(QStringLiteral("SELECT AdminPassword FROM Administrators WHERE AdminUsername=%1").arg(quotedSql(name))).toString(),
                 held(entry, 50));
    }

    void aPositionIsStoredFoundAndDeletedByItsCode_data() { entryRows(); }
    void aPositionIsStoredFoundAndDeletedByItsCode()
    {
        QFETCH(QString, entry);
        const QString code = held(entry, 5), name = held(entry, 50);
        const QStringList before = wholeFile();
        frmMainAdmin &panel = openCandidatesPanel();
        click(panel.cmdAddPos);
        frmAddPos &dialog = Shell::Get<frmAddPos>();
        enter(dialog.txtPosName, entry);
        enter(dialog.txtPosID, entry);
        click(dialog.cmdOK);
        QCOMPARE(wholeFile(), sorted(before + QStringList{QStringLiteral("Positions:%1|%2").arg(code, name)}));
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.cmbbxPosition->itemText(2), name);

        // The same code again, in the other letter case where it has letters, is a duplicate.
        click(panel.cmdAddPos);
        enter(dialog.txtPosName, QStringLiteral("Another"));
        enter(dialog.txtPosID, otherCase(code));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate Position ID Found!")});
        click(dialog.cmdCancel);

        // Chosen on the panel, it has no candidates; deleted, it leaves the file as it was.
        panel.cmbbxPosition->setCurrentIndex(indexOf(panel.lstPosID, code));
        QCOMPARE(panel.lstCandidate->count(), 0);
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
        QCOMPARE(shownBoxes().size(), 1);
        QCOMPARE(wholeFile(), before);
    }

    void aCandidateIsStoredFoundVotedForAndDeletedByItsCode_data() { entryRows(); }
    void aCandidateIsStoredFoundVotedForAndDeletedByItsCode()
    {
        QFETCH(QString, entry);
        const QString code = held(entry, 8), name = held(entry, 50), student = held(entry, 20);
        const QStringList before = wholeFile();
        frmMainAdmin &panel = openCandidatesPanel();
        click(panel.cmdNewCand);
        frmAddCandidate &dialog = Shell::Get<frmAddCandidate>();
        enter(dialog.txtName, entry);
        enter(dialog.txtStudentID, entry);
        enter(dialog.txtCandID, entry);
        dialog.cmbbxPosition->setCurrentIndex(0);
        click(dialog.cmdOK);
        const QStringList added{QStringLiteral("CandInfo:%1|%2|%3|P1").arg(code, name, student),
                                QStringLiteral("CandVote:%1|0").arg(code)};
        QCOMPARE(wholeFile(), sorted(before + added));

        // Listed under its position, with its details looked up by its code.
        panel.cmbbxPosition->setCurrentIndex(0);
        QCOMPARE(entries(panel.lstCandidate), (QStringList{QStringLiteral("Ann Lee"), name}));
        panel.lstCandidate->setCurrentRow(1);
        QCOMPARE(panel.lblCandName->text(), name);
        QCOMPARE(panel.lblCandStudID->text(), student);
        QCOMPARE(panel.lblCandPosition->text(), QStringLiteral("President"));

        // The same code in the other letter case is a duplicate.
        click(panel.cmdNewCand);
        enter(dialog.txtName, QStringLiteral("Other"));
        enter(dialog.txtStudentID, QStringLiteral("S-9"));
        enter(dialog.txtCandID, otherCase(code));
        dialog.cmbbxPosition->setCurrentIndex(1);
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate Candidate ID Found!")});
        click(dialog.cmdCancel);

        // A vote for it reaches its own tally and no other.
        voterLogIn(QStringLiteral("decoy"), QStringLiteral("decoypw"));
        QCOMPARE(shownBoxes(), QStringList{kWarning});
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(indexOf(ballot.lstCandID, code));
        QCOMPARE(ballot.lblCandName->text(), name);
        click(ballot.cmdVote);
        QStringList voted = before + QStringList{QStringLiteral("CandInfo:%1|%2|%3|P1").arg(code, name, student),
                                                 QStringLiteral("CandVote:%1|1").arg(code)};
        voted.replaceInStrings(QStringLiteral("Users:Decoy|decoy|decoypw|0"), QStringLiteral("Users:Decoy|decoy|decoypw|1"));
        QCOMPARE(wholeFile(), sorted(voted));
        click(ballot.cmdDone);
        shownBoxes();

        // Deleted on the panel, it takes its tally and nothing else.
        frmMainAdmin &again = openCandidatesPanel();
        again.cmbbxPosition->setCurrentIndex(0);
        again.lstCandidate->setCurrentRow(1);
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(again.cmdDelCand);
        QCOMPARE(shownBoxes().size(), 1);
        QStringList after = before;
        after.replaceInStrings(QStringLiteral("Users:Decoy|decoy|decoypw|0"), QStringLiteral("Users:Decoy|decoy|decoypw|1"));
        QCOMPARE(wholeFile(), sorted(after));
    }

    void anEditedCandidateKeepsTheEntriesExactly_data() { entryRows(); }
    void anEditedCandidateKeepsTheEntriesExactly()
    {
        QFETCH(QString, entry);
        QStringList expected = wholeFile();
        frmMainAdmin &panel = openCandidatesPanel();
        panel.cmbbxPosition->setCurrentIndex(1);
        panel.lstCandidate->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        enter(dialog.txtName, entry);
        enter(dialog.txtStudentID, entry);
        click(dialog.cmdOK);
        expected.replaceInStrings(QStringLiteral("CandInfo:C2|Bo Tan|S-2|P2"),
                                  QStringLiteral("CandInfo:C2|%1|%2|P2").arg(held(entry, 50), held(entry, 20)));
        QCOMPARE(wholeFile(), sorted(expected));
        QVERIFY(panel.isVisible());
    }

    void aVoterAccountIsStoredFoundAndDeletedByItsUserName_data() { entryRows(); }
    void aVoterAccountIsStoredFoundAndDeletedByItsUserName()
    {
        QFETCH(QString, entry);
        const QString name = held(entry, 50), user = held(entry, 20), password = held(entry, 20);
        const QStringList before = wholeFile();
        click(openUsersPanel().cmdAddUser);
        frmAddUser &dialog = Shell::Get<frmAddUser>();
        enter(dialog.txtName, entry);
        enter(dialog.txtStudentID, entry);
        enter(dialog.txtPassword, entry);
        click(dialog.cmdOK);
        QCOMPARE(wholeFile(), sorted(before + QStringList{QStringLiteral("Users:%1|%2|%3|0").arg(name, user, password)}));

        frmAdminUsers &panel = Shell::Get<frmAdminUsers>();
        QVERIFY(panel.isVisible());
        QCOMPARE(entries(panel.lstUser), (QStringList{QStringLiteral("decoy"), user}));
        panel.lstUser->setCurrentRow(1);
        QCOMPARE(panel.lblStudName->text(), name);
        QCOMPARE(panel.lblStudUsername->text(), user);
        QCOMPARE(panel.lblStudPassword->text(), password);

        click(panel.cmdAddUser);
        enter(dialog.txtName, QStringLiteral("Other"));
        enter(dialog.txtStudentID, otherCase(user));
        enter(dialog.txtPassword, QStringLiteral("pw"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate User Account Found!")});
        click(dialog.cmdCancel);

        panel.lstUser->setCurrentRow(1);
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelUser);
        QCOMPARE(shownBoxes().size(), 1);
        QCOMPARE(wholeFile(), before);
    }

    void anEditedVoterAccountKeepsTheEntriesExactly_data() { entryRows(); }
    void anEditedVoterAccountKeepsTheEntriesExactly()
    {
        QFETCH(QString, entry);
        QStringList expected = wholeFile();
        frmAdminUsers &panel = openUsersPanel();
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditUser &dialog = Shell::Get<frmEditUser>();
        enter(dialog.txtName, entry);
        enter(dialog.txtPassword, entry);
        click(dialog.cmdOK);
        expected.replaceInStrings(QStringLiteral("Users:Decoy|decoy|decoypw|0"),
                                  QStringLiteral("Users:%1|decoy|%2|0").arg(held(entry, 50), held(entry, 20)));
        QCOMPARE(wholeFile(), sorted(expected));
        QVERIFY(panel.isVisible());
    }
};

POLLARIS_TEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
