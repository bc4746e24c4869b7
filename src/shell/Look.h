#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

// The look every screen shares: light yellow windows laid out in twips, dark blue
// bands, bold Arial captions, clickable labels, password fields that show "*",
// and push buttons that are never the window's default or cancel button.
namespace Look {

inline const QColor kYellow{255, 255, 192};
inline const QColor kDarkBlue{0, 0, 128};
inline const QColor kLinkBlue{0, 0, 255};

// 15 twips to a pixel at 96 dpi.
int tw(int twips);
void place(QWidget *widget, int left, int top, int width, int height);

// A top-level screen window: caption, yellow background, fixed client area.
void window(QWidget *screen, const QString &caption, int clientWidth, int clientHeight);
// In a kiosk, the window a screen sits in: the whole display, no frame and no
// close control, the screens' own yellow. Shown with showKioskFrame.
QWidget *kioskFrame(const QString &caption);
void showKioskFrame(QWidget *frame);

QFont boldArial(qreal points = 9.75);
QFont arial(qreal points = 9.0);

QLabel *label(QWidget *parent, const QString &name, const QString &text, const QFont &font);
// A text-less dark blue band.
QLabel *band(QWidget *parent, const QString &name);
// A label with a white background that shows a value read from the file.
QLabel *valueLabel(QWidget *parent, const QString &name);
QLineEdit *textField(QWidget *parent, const QString &name, int maxLength);
QLineEdit *passwordField(QWidget *parent, const QString &name, int maxLength);
// Puts a value read from the file into a field whole, even one longer than the
// field lets anybody type (written by other means), so that saving the dialog
// unchanged writes it back unchanged; typing can never make it longer.
void showWhole(QLineEdit *field, const QString &text, int maxLength);
QPushButton *button(QWidget *parent, const QString &name, const QString &caption);
QComboBox *choice(QWidget *parent, const QString &name);
QListWidget *list(QWidget *parent, const QString &name);
// A hidden list of the codes of a shown list's entries, silent to a screen reader.
QListWidget *codeList(QWidget *parent, const QString &name);

// Names a control after the caption label beside it, as a screen reader reads
// it: the caption labels the control, and a field or list takes its text as
// its name. A label that shows a value is read as "caption: value".
void caption(QLabel *caption, QWidget *control);

} // namespace Look

// A label that acts as a link: a single click on its text is the action. It
// also takes the keyboard focus with Tab, shown with a frame round its text,
// and acts on Enter or Space.
class ClickableLabel final : public QLabel {
    Q_OBJECT
public:
    ClickableLabel(QWidget *parent, const QString &name, const QString &text);

    // The action, as a click on the text.
    void click();

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
