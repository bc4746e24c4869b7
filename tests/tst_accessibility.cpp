// What a screen reader is told about the voter's screens and an admin panel, and the keyboard's way
// through the voter's road.

#include "TestSupport.h"

#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QAccessible>
#include <QtWidgets>

namespace {

QAccessibleInterface *iface(QObject *object) { return QAccessible::queryAccessibleInterface(object); }

QString name(QAccessibleInterface *i) { return i ? i->text(QAccessible::Name) : QString(); }

QString role(QAccessibleInterface *i)
{
    if (i->role() == QAccessible::EditableText)
        return i->state().passwordEdit ? "password" : "field";
    static const QHash<int, QString> names{{QAccessible::Window, "frame"},   {QAccessible::StaticText, "label"},
                                           {QAccessible::List, "list"},      {QAccessible::ComboBox, "choice"},
                                           {QAccessible::Button, "button"},  {QAccessible::Link, "link"},
                                           {QAccessible::Graphic, "picture"}};
    return names.value(i->role(), QString::number(i->role()));
}

QString labelledBy(QAccessibleInterface *i)
{
    const auto labels = i->relations(QAccessible::Label);
    return labels.isEmpty() ? QString() : name(labels.first().first);
}

QStringList allNames(QAccessibleInterface *i)
{
    QStringList names;
    for (int c = 0; c < i->childCount(); ++c) {
        QAccessibleInterface *child = i->child(c);
        names << name(child) << allNames(child);
    }
    return names;
}

// The frame, then each visible control as "role name [actions] {entries} (description)", with
// notes on naming faults.
QStringList read(Screen &screen)
{
    QAccessibleInterface *frame = iface(&screen);
    QStringList out{role(frame) + u' ' + name(frame)};
    for (int c = 0; c < frame->childCount(); ++c) {
        QAccessibleInterface *child = frame->child(c);
        QString line = role(child) + u' ' + name(child);
        if (child->role() == QAccessible::Button || child->role() == QAccessible::Link)
            line += QStringLiteral(" [%1]").arg(child->actionInterface()->actionNames().join(u','));
        if (child->role() == QAccessible::List)
            line += QStringLiteral(" {%1}").arg(allNames(child).join(u';'));
        if (const QString description = child->text(QAccessible::Description); !description.isEmpty())
            line += QStringLiteral(" (%1)").arg(description);
        out << line;
        // Fields and lists are named by their caption; a choice names its entry and is captioned.
        const QString caption = labelledBy(child);
        if ((child->role() == QAccessible::EditableText || child->role() == QAccessible::List) && !caption.isEmpty() &&
            name(child) != caption)
            out << QStringLiteral("  named '%1', captioned '%2'").arg(name(child), caption);
        if (child->role() == QAccessible::ComboBox && caption.isEmpty())
            out << QStringLiteral("  no caption");
        if (name(child).isEmpty())
            out << QStringLiteral("  no name");
    }
    return out;
}

// Shows a screen as the screen that opens it does.
using Opener = Screen &(*)();
template <class T> Screen &opened() { return Shell::Show<T>(); }

} // namespace

Q_DECLARE_METATYPE(Opener)

class AccessibilityTest : public ScreenTest {
    Q_OBJECT

private slots:
    void init()
    {
        ScreenTest::init();
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C001','Maria Santos','2023-0141','PRES'),"
                 "('C002','John Reyes','2023-0458','PRES'),('C003','Ana Cruz','2024-0012','VP');"
                 "INSERT INTO CandVote VALUES ('C001',12),('C002',1),('C003',0);"
                 "INSERT INTO Users VALUES ('Carla Villanueva','2026001','vote1',0)");
    }

    // Each screen: no note among the lines read() gives, and lines it must give, in order.
    void everyScreenIsAFrameOfNamedControls_data()
    {
        QTest::addColumn<Opener>("open");
        QTest::addColumn<QStringList>("holds");
        const auto row = [](const Opener &open, const QStringList &holds) {
            QTest::newRow(qPrintable(holds.first())) << open << holds;
        };
        row(opened<frmMain>,
            {"frame Pollaris", "picture Pollaris, Student Election System", "link Voter Log In [Press,SetFocus]",
             "link Administrator Log In [Press,SetFocus]", "link Exit [Press,SetFocus]"});
        row(opened<frmVoterLogIn>,
            {"frame Voter's Login", "label Username", "field Username", "label Password", "password Password",
             "button OK [Press,SetFocus]", "button Cancel [Press,SetFocus]"});
        row(opened<frmMainAdmin>,
            {"frame Administrator's Panel - Candidates and Positions", "choice Position", "list Position ID {PRES;VP}",
             "list List of Candidates {}", "label Position Running for:"});
    }
    void everyScreenIsAFrameOfNamedControls()
    {
        QFETCH(Opener, open);
        QFETCH(QStringList, holds);
        Screen &screen = open();
        const QStringList lines = read(screen);
        screen.Hide();
        const QString all = lines.join("\n  ");
        QVERIFY2(!all.contains("\n    "), qPrintable(all));
        qsizetype at = 0;
        for (const QString &line : holds)
            QVERIFY2((at = lines.indexOf(line, at) + 1) > 0, qPrintable(line + " not in order in:\n  " + all));
    }

    // The voter's road by keyboard: Tab, Space and Enter work the menu and the buttons, a screen
    // reader's press clicks, the focus is framed on every kind of control from a screen's first
    // moment, and the ballot reads as it should.
    void theVotersRoadWorksFromTheKeyboardAndReadsAsItShould()
    {
        auto black = [](QWidget *w) {
            const QImage image = w->window()->grab().toImage();
            const QRect area = QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()).adjusted(-4, -4, 4, 4);
            int n = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    n += image.valid(x, y) && image.pixelColor(x, y) == QColor(Qt::black);
            return n;
        };
        auto framed = [&](QWidget *control, QWidget *other) {
            other->setFocus();
            const int before = black(control);
            control->setFocus();
            return black(control) - before > 40;
        };
        frmMain &menu = Shell::Show<frmMain>();
        QApplication::setActiveWindow(&menu);
        QTRY_COMPARE(QApplication::focusWidget(), menu.lblLogUser);
        QVERIFY(framed(menu.lblExit, menu.lblLogUser));

        // Space on an action acts; Enter (keypad too) presses a focused button.
        menu.lblLogUser->setFocus();
        QTest::keyClick(menu.lblLogUser, Qt::Key_Space);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        QVERIFY(login.isVisible() && !menu.isVisible());
        QTest::keyClick(login.cmdCancel, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(menu.isVisible() && !login.isVisible());

        QTest::keyClick(menu.lblLogUser, Qt::Key_Return);
        QApplication::setActiveWindow(&login);
        QTRY_VERIFY(login.cmdCancel->hasFocus());
        const int shown = black(login.cmdCancel);
        login.cmdOK->setFocus();
        QVERIFY(black(login.cmdCancel) < shown - 40);
        QVERIFY(framed(login.txtUsername, login.cmdOK));
        type(login.txtUsername, "2026001");
        type(login.txtPassword, "vote1");
        QTest::keyClick(login.cmdOK, Qt::Key_Return);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        QApplication::setActiveWindow(&ballot);
        QVERIFY(framed(ballot.lstCandidate, ballot.cmdDone));
        QVERIFY(framed(ballot.cmbbxPosition, ballot.cmdDone));

        // The ballot reads names, details and greeting but never a code.
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(0);
        QCOMPARE(read(ballot),
                 QStringList({"frame Pollaris", "label Welcome, 2026001", "label Position", "choice President",
                              "label List of Candidates", "list List of Candidates {Maria Santos;John Reyes}",
                              "label Candidate Details", "label Name", "label Name: Maria Santos", "label Student ID",
                              "label Student ID: 2023-0141",
                              "label Position Running for:", "label Position Running for: President",
                              "button Vote [Press,SetFocus]", "button Done [Press,SetFocus]"}));
        QTest::keyClick(ballot.cmdDone, Qt::Key_Return);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!")});
        QVERIFY(menu.isVisible());

        // A screen reader's press on a link is a click on it.
        iface(menu.lblLogUser)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(login.isVisible() && !menu.isVisible());
    }
};

POLLARIS_TEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
