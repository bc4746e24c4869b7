#pragma once

class QWidget;

// What a screen reader is told about the screens. Qt describes most controls by
// itself once each field is named after its caption (Look::caption); these are
// the program's own additions:
// - each screen is a frame named by its caption, and lists only the controls a
//   user can see: hidden code lists and the text-less bands are left out;
// - a clickable label is a link, with a press action;
// - a label that shows a value read from the file is read with its caption
//   ("Name: Ada Lovelace").
namespace Accessibility {

// Registers the program's accessible interfaces; once, after the application object exists.
void install();

// Leaves a purely decorative widget out of what a screen reader is told.
void setDecorative(QWidget *widget);

} // namespace Accessibility
