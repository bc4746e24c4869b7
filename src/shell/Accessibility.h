#pragma once

#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>

class QComboBox;
class QLabel;
class QWidget;

// What a screen reader is told about the screens. Qt describes most controls by
// itself once each field is named after its caption (Look::caption); these are
// the program's own additions:
// - each screen is a frame named by its caption, and lists only the controls a
//   user can see: hidden code lists and the text-less bands are left out;
// - a clickable label is a link, with a press action;
// - a label that shows a value read from the file is read with its caption
//   ("Name: Ada Lovelace");
// - a screen reader hears what a sighted user sees change: the entry chosen in a
//   choice, the values an action showed, and what the program announces;
// - a password field tells a screen reader what it shows, a mask, never the
//   characters typed.
namespace Accessibility {

// Registers the program's accessible interfaces; once, after the application object exists.
void install();

// Leaves a purely decorative widget out of what a screen reader is told.
void setDecorative(QWidget *widget);

// Has a screen reader say the text now: in a list, after the entry that has the
// focus (as its description); elsewhere as a notification that appears on the
// screen, taking no room, until the focus moves on.
void Announce(const QString &text);

// Tells a screen reader of the entry now chosen in a choice that has the focus.
void ChoiceChanged(QComboBox *choice);

// The values shown on the screen that has the focus (labels read with their
// caption), taken before a user's action so that what it changed can be said.
class ShownValues {
public:
    ShownValues();
    // Announces the values that changed since, and are not empty, in the order
    // of the screen ("Name: Ada Lovelace. Student ID: 2001").
    void AnnounceChanges() const;

private:
    QList<QPair<QPointer<QLabel>, QString>> m_values;
};

} // namespace Accessibility
