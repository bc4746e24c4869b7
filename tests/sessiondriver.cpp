// A scripted user for the real program: the program's own application object,
// screens and store, with its election file in the folder of this executable
// (as for the program itself), and a script read from standard input, one
// action a line, fields separated by tabs:
//
//   login USER PASS            voter log-in from the main menu
//   vote POSID CANDID          on the ballot: choose the position, click the candidate, Vote
//   done                       Done on the ballot
//   admin USER PASS            administrator log-in, then the candidates and positions panel
//   addpos POSID NAME          Add Position on the panel, OK
//   addcand CANDID NAME STUDENTNUM POSID   Add Candidate on the panel, OK
//   delcand POSID CANDID       Delete Candidate on the panel, answered Yes
//   delpos POSID               Delete Position on the panel, answered Yes
//
// Standard output gets "ready" once the main menu is up, "box<TAB>icon<TAB>title<TAB>text"
// for each message box as it is shown (boxes are answered at once, confirmations
// with Yes), and "ok<TAB>line" after each action's handler has returned, so that
// a test that kills this process knows which actions were complete. A failure of
// the store ends the process through the program's own failure handler, with its
// status. An action the screens do not offer (an unknown code) ends it with 3.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "store/StoreError.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

void say(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

[[noreturn]] void refuse(const QString &why)
{
    say(QStringLiteral("refused\t") + why);
    std::_Exit(3);
}

int indexOf(const QListWidget *codes, const QString &code)
{
    for (int i = 0; i < codes->count(); ++i)
        if (codes->item(i)->text() == code)
            return i;
    refuse(QStringLiteral("no entry ") + code);
}

void clickEntry(QListWidget *list, int i)
{
    QListWidgetItem *item = list->item(i);
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    if (list->currentRow() != i)
        refuse(QStringLiteral("entry not selected"));
}

frmMainAdmin &panelWith(const QString &posId)
{
    frmMainAdmin &panel = Shell::Get<frmMainAdmin>();
    if (!panel.isVisible())
        refuse(QStringLiteral("the panel is not open"));
    panel.cmbbxPosition->setCurrentIndex(indexOf(panel.lstPosID, posId));
    return panel;
}

void perform(const QStringList &f)
{
    const QString &what = f.value(0);
    if (what == QLatin1String("login") && f.size() == 3) {
        click(Shell::Get<frmMain>().lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        type(login.txtUsername, f[1]);
        type(login.txtPassword, f[2]);
        click(login.cmdOK);
    } else if (what == QLatin1String("vote") && f.size() == 3) {
        frmVoter &ballot = Shell::Get<frmVoter>();
        if (!ballot.isVisible())
            refuse(QStringLiteral("the ballot is not open"));
        ballot.cmbbxPosition->setCurrentIndex(indexOf(ballot.lstPosID, f[1]));
        clickEntry(ballot.lstCandidate, indexOf(ballot.lstCandID, f[2]));
        click(ballot.cmdVote);
    } else if (what == QLatin1String("done") && f.size() == 1) {
        click(Shell::Get<frmVoter>().cmdDone);
    } else if (what == QLatin1String("admin") && f.size() == 3) {
        click(Shell::Get<frmMain>().lblLogAdmin);
        frmAdminLogIn &login = Shell::Get<frmAdminLogIn>();
        type(login.txtUsername, f[1]);
        type(login.txtPassword, f[2]);
        click(login.cmdOK);
        click(Shell::Get<frmAdminStart>().cmdCandPos);
    } else if (what == QLatin1String("addpos") && f.size() == 3) {
        click(Shell::Get<frmMainAdmin>().cmdAddPos);
        frmAddPos &dialog = Shell::Get<frmAddPos>();
        type(dialog.txtPosName, f[2]);
        type(dialog.txtPosID, f[1]);
        click(dialog.cmdOK);
    } else if (what == QLatin1String("addcand") && f.size() == 5) {
        click(Shell::Get<frmMainAdmin>().cmdNewCand);
        frmAddCandidate &dialog = Shell::Get<frmAddCandidate>();
        type(dialog.txtName, f[2]);
        type(dialog.txtStudentID, f[3]);
        type(dialog.txtCandID, f[1]);
        dialog.cmbbxPosition->setCurrentIndex(indexOf(dialog.lstPosID, f[4]));
        click(dialog.cmdOK);
    } else if (what == QLatin1String("delcand") && f.size() == 3) {
        frmMainAdmin &panel = panelWith(f[1]);
        clickEntry(panel.lstCandidate, indexOf(panel.lstCandID, f[2]));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelCand);
    } else if (what == QLatin1String("delpos") && f.size() == 2) {
        frmMainAdmin &panel = panelWith(f[1]);
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
    } else {
        refuse(QStringLiteral("not understood: ") + f.join(QLatin1Char(' ')));
    }
}

} // namespace

int main(int argc, char **argv)
{
    Shell::Application app(argc, argv);
    // Boxes are answered at once and reported on standard output; nothing else of
    // the program is replaced.
    Msg::setRecording(true);
    Msg::setOnShow([](const Msg::Shown &shown) {
        static const char *icons[] = {"Critical", "Exclamation", "Question", "Information"};
        say(QStringLiteral("box\t%1\t%2\t%3").arg(QLatin1String(icons[int(shown.icon)]), shown.title, shown.text));
    });

    // Every action runs as the program would run it: a failure that escapes a
    // handler goes to the program's one failure handler, which ends the process.
    auto guarded = [](const std::function<void()> &action) {
        try {
            action();
        } catch (const store::StoreError &e) {
            Shell::Fatal(e.number(), e.text());
        } catch (const std::exception &e) {
            Shell::Fatal(0, QString::fromLocal8Bit(e.what()));
        }
    };
    guarded([] { Shell::Show<frmMain>(); });
    say(QStringLiteral("ready"));

    std::string raw;
    while (std::getline(std::cin, raw)) {
        const QString line = QString::fromStdString(raw);
        if (line.isEmpty())
            continue;
        guarded([&] { perform(line.split(QLatin1Char('\t'))); });
        say(QStringLiteral("ok\t") + line);
    }
    // The end of the script is the main menu's Exit.
    guarded([] { click(Shell::Get<frmMain>().lblExit); });
    return 0;
}
