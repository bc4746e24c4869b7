#pragma once

#include <QList>
#include <QString>
#include <functional>

// The program's message boxes, of four kinds. Every box is modal: the handler that
// shows it waits for the answer. Tests switch the module to recording, preset the
// answer of a confirmation, and read back what was shown.
namespace Msg {

enum class Icon { Critical, Exclamation, Question, Information };
enum class Answer { OK, Yes, No };

inline const QString kDefaultTitle = QStringLiteral("Pollaris");

// Refusal: critical icon, OK.
void Refusal(const QString &text, const QString &title = kDefaultTitle);
// Warning: exclamation icon, OK.
void Warning(const QString &text, const QString &title = kDefaultTitle);
// Confirmation: question icon, Yes and No; true for Yes.
bool Confirmation(const QString &text, const QString &title = kDefaultTitle);
// Notice: information icon, OK.
void Notice(const QString &text, const QString &title = kDefaultTitle);

// How many boxes have been shown since the program started.
int shownCount();
// Every answer given to a confirmation so far, in order; and how many boxes of the
// other kinds were shown.
QList<bool> answersGiven();
int otherBoxesShown();
// The next confirmations are answered with these, in order, without being shown:
// an action run again from its first step asks nothing the user has answered.
void answerAgain(const QList<bool> &answers);

// --- test seam ---------------------------------------------------------------
struct Shown {
    Icon icon;
    QString title;
    QString text;
    bool operator==(const Shown &o) const { return icon == o.icon && title == o.title && text == o.text; }
};

// While recording, no box appears: each is recorded and answered at once, OK for
// OK boxes and the preset answer (or No, when none was preset) for confirmations.
void setRecording(bool on);
bool isRecording();
void setNextAnswer(Answer answer);
bool hasUnusedAnswer();
// Runs while a box is "open", before it is answered.
void setOnShow(std::function<void(const Shown &)> callback);
QList<Shown> takeShown();

} // namespace Msg
