#include "MessageBox.h"

#include "Look.h"
#include "Shell.h"

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <memory>
#include <optional>

namespace Msg {

namespace {

bool g_recording = false;
std::optional<Answer> g_nextAnswer;
std::function<void(const Shown &)> g_onShow;
QList<Shown> g_shown;
int g_count = 0;
QList<bool> g_answers;     // every question's answer, in order
int g_others = 0;          // boxes that were no question
QList<bool> g_answerAgain; // answers to give again without asking

Answer show(Icon icon, const QString &text, const QString &title, bool yesNo)
{
    ++g_count;
    if (g_recording) {
        Shown shown{icon, title, text};
        g_shown.append(shown);
        if (g_onShow)
            g_onShow(shown);
        Answer answer = yesNo ? Answer::No : Answer::OK;
        if (yesNo && g_nextAnswer)
            answer = *g_nextAnswer;
        if (yesNo)
            g_nextAnswer.reset();
        return answer;
    }

    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::Critical: qtIcon = QMessageBox::Critical; break;
    case Icon::Exclamation: qtIcon = QMessageBox::Warning; break;
    case Icon::Question: qtIcon = QMessageBox::Question; break;
    case Icon::Information: qtIcon = QMessageBox::Information; break;
    }
    QWidget *parent = QApplication::activeWindow();
    // In a kiosk a box is a frameless dialog over the display's screen, which the
    // compositor centres on it; one with no screen behind it (a station that
    // cannot start) would be taken for the station's main window and put in a
    // corner, or stretched, so it gets the kiosk's empty yellow display behind it.
    std::unique_ptr<QWidget> backdrop;
    if (Shell::Kiosk() && !parent) {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && !qobject_cast<QDialog *>(window))
                parent = window;
        }
        if (!parent) {
            backdrop.reset(Look::kioskFrame(title));
            Look::showKioskFrame(backdrop.get());
            parent = backdrop.get();
        }
    }
    QMessageBox box(qtIcon, title, text, yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    if (Shell::Kiosk()) {
        box.setWindowFlag(Qt::FramelessWindowHint);
        box.adjustSize();
    }
    // Texts may quote what was typed or read from the file: never markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : (yesNo ? Answer::No : Answer::OK);
}

} // namespace

void Refusal(const QString &text, const QString &title)
{
    ++g_others;
    show(Icon::Critical, text, title, false);
}
void Warning(const QString &text, const QString &title)
{
    ++g_others;
    show(Icon::Exclamation, text, title, false);
}
bool Confirmation(const QString &text, const QString &title)
{
    if (!g_answerAgain.isEmpty())
        return g_answerAgain.takeFirst();
    const bool yes = show(Icon::Question, text, title, true) == Answer::Yes;
    g_answers.append(yes);
    return yes;
}
void Notice(const QString &text, const QString &title)
{
    ++g_others;
    show(Icon::Information, text, title, false);
}

QList<bool> answersGiven() { return g_answers; }
int otherBoxesShown() { return g_others; }
void answerAgain(const QList<bool> &answers) { g_answerAgain = answers; }

int shownCount() { return g_count; }

void setRecording(bool on)
{
    g_recording = on;
    g_nextAnswer.reset();
    g_onShow = nullptr;
    g_shown.clear();
}
bool isRecording() { return g_recording; }
void setNextAnswer(Answer answer) { g_nextAnswer = answer; }
bool hasUnusedAnswer() { return g_nextAnswer.has_value(); }
void setOnShow(std::function<void(const Shown &)> callback) { g_onShow = std::move(callback); }
QList<Shown> takeShown()
{
    QList<Shown> shown = g_shown;
    g_shown.clear();
    return shown;
}

} // namespace Msg
