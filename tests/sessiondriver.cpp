// A scripted user of the real program: its own application, screens and store, the
// election file in this executable's folder (or the server of --server CONNINFO), and
// a script on standard input, one action a line, fields separated by tabs:
//   login USER PASS | vote POSID CANDID | done | cancel   (the voter's road)
//   admin USER PASS   (an administrator's log-in, to the candidates panel), then
//   addpos POSID NAME | addcand CANDID NAME STUDENTNUM POSID | delcand POSID CANDID | delpos POSID
//   pickcand POSID CANDID | delpicked   (a candidate clicked on the panel; later deleted)
// It says "ready" once the main menu is up, "box<TAB>icon<TAB>title<TAB>text" for each box
// as it is shown (answered at once, confirmations with Yes), "took<TAB>WHOLE<TAB>BUTTON" for
// each vote (microseconds from the position chosen to Vote's end, and of Vote's handler alone),
// "waiting<TAB>DETAIL" and "resumed" as the election server is lost and found again,
// and "ok<TAB>line" once an action's handler has returned, so a
// test that kills it knows which actions were complete. A failure of the store ends it
// through the program's own failure path; a script the screens cannot follow, with 3.
// With POLLARIS_VOTE_GAP_MS a vote begins no sooner than that long after the previous one
// began, as a voter takes a moment over each position.

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
#include "shell/ServerWait.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

void say(const QString &line) { std::cout << line.toStdString() << std::endl; }

[[noreturn]] void refuse(const QString &why)
{
    say("refused\t" + why);
    std::_Exit(3);
}

int indexOf(const QListWidget *codes, const QString &code)
{
    const QList<QListWidgetItem *> found = codes->findItems(code, Qt::MatchExactly);
    if (found.isEmpty())
        refuse("no entry " + code);
    return codes->row(found[0]);
}

void perform(const QStringList &f)
{
    const QString what = f[0];
    // A list entry is clicked as a user would, found by the code in its parallel list.
    auto clickEntry = [](QListWidget *list, const QListWidget *codes, const QString &code) {
        QListWidgetItem *item = list->item(indexOf(codes, code));
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    };
    if (what == "login") {
        logIn<frmVoterLogIn>(Shell::Get<frmMain>().lblLogUser, f.value(1), f.value(2));
    } else if (what == "vote") {
        static const int gap = qEnvironmentVariableIntValue("POLLARIS_VOTE_GAP_MS");
        static QElapsedTimer previous;
        if (gap > 0 && previous.isValid() && previous.elapsed() < gap)
            QThread::msleep(gap - previous.elapsed());
        previous.start();
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(indexOf(ballot.lstPosID, f.value(1)));
        clickEntry(ballot.lstCandidate, ballot.lstCandID, f.value(2));
        QElapsedTimer voting;
        voting.start();
        click(ballot.cmdVote);
        say(QStringLiteral("took\t%1\t%2").arg(previous.nsecsElapsed() / 1000).arg(voting.nsecsElapsed() / 1000));
    } else if (what == "cancel") {
        click(Shell::Get<frmVoterLogIn>().cmdCancel);
    } else if (what == "done") {
        click(Shell::Get<frmVoter>().cmdDone);
    } else if (what == "admin") {
        logIn<frmAdminLogIn>(Shell::Get<frmMain>().lblLogAdmin, f.value(1), f.value(2));
        click(Shell::Get<frmAdminStart>().cmdCandPos);
    } else if (what == "addpos") {
        click(Shell::Get<frmMainAdmin>().cmdAddPos);
        frmAddPos &dialog = Shell::Get<frmAddPos>();
        type(dialog.txtPosName, f.value(2));
        type(dialog.txtPosID, f.value(1));
        click(dialog.cmdOK);
    } else if (what == "addcand") {
        click(Shell::Get<frmMainAdmin>().cmdNewCand);
        frmAddCandidate &dialog = Shell::Get<frmAddCandidate>();
        type(dialog.txtName, f.value(2));
        type(dialog.txtStudentID, f.value(3));
        type(dialog.txtCandID, f.value(1));
        dialog.cmbbxPosition->setCurrentIndex(indexOf(dialog.lstPosID, f.value(4)));
        click(dialog.cmdOK);
    } else if (what == "pickcand" || what == "delpicked" || what == "delcand" || what == "delpos") {
        frmMainAdmin &panel = Shell::Get<frmMainAdmin>();
        if (what != "delpicked")
            panel.cmbbxPosition->setCurrentIndex(indexOf(panel.lstPosID, f.value(1)));
        if (what == "pickcand" || what == "delcand")
            clickEntry(panel.lstCandidate, panel.lstCandID, f.value(2));
        if (what != "pickcand") {
            Msg::setNextAnswer(Msg::Answer::Yes);
            click(what == "delpos" ? panel.cmdDelPos : panel.cmdDelCand);
        }
    } else {
        refuse("not understood: " + f.join(' '));
    }
}

} // namespace

int main(int argc, char **argv)
{
    Shell::Application app(argc, argv);
    Msg::setRecording(true);
    Msg::setOnShow([](const Msg::Shown &s) {
        say(QStringList{"box", QStringList{"Critical", "Exclamation", "Question", "Information"}[int(s.icon)], s.title,
                        s.text}
                .join('\t'));
    });
    ServerWait::setOnChange(
        [](bool waiting, const QString &detail) { say(waiting ? "waiting\t" + detail : QStringLiteral("resumed")); });
    // As in the program, a failure of the store stops the handler it happens in and
    // ends the process through the program's one failure path.
    Shell::Handle([] {
        Shell::OpenElection();
        Shell::Show<frmMain>();
    });
    say("ready");
    for (std::string raw; std::getline(std::cin, raw);) {
        const QString line = QString::fromStdString(raw);
        perform(line.split('\t'));
        say("ok\t" + line);
    }
    // The end of the script is the main menu's Exit.
    click(Shell::Get<frmMain>().lblExit);
    return 0;
}
