#include "Look.h"

#include "Accessibility.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QValidator>
#include <QtMath>

namespace Look {

namespace {

class KioskFrame final : public QWidget {
public:
    explicit KioskFrame(const QString &caption) : QWidget(nullptr, Qt::FramelessWindowHint)
    {
        setWindowTitle(caption);
        setAutoFillBackground(true);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, kYellow);
        setPalette(palette);
    }

protected:
    void closeEvent(QCloseEvent *event) override { event->ignore(); }
};

// A field that cuts a pasted text at its limit may cut a character of two code
// units (an emoji) in half; the half left over would be stored as a character
// nobody typed, so it goes, and the field keeps whole characters only. Control
// characters (a NUL, a tab, a line break, an escape) come only from a paste and
// would be stored unseen, cutting the value short for other readers of the file:
// they go too, and the rest of the paste stays.
class WholeCharacters final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override
    {
        for (int i = 0; i < input.size(); ++i) {
            if (input.at(i).isHighSurrogate() && i + 1 < input.size() && input.at(i + 1).isLowSurrogate()) {
                ++i;
            } else if (input.at(i).isSurrogate() || input.at(i).category() == QChar::Other_Control) {
                input.remove(i, 1);
                if (pos > i)
                    --pos;
                --i;
            }
        }
        return Acceptable;
    }
};

// A list in which an entry is picked only by the user, and a pick is only ever
// replaced: taking the focus picks nothing (a plain list would make its first
// entry current, which the screens take for a pick), and neither Ctrl+click nor
// a click below the entries unpicks, which would leave an entry current that is
// not shown as picked.
class PickList final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    // Only the list that has the keyboard focus tells a screen reader of its current
    // entry as of the focus; one that follows another control's choice does not
    // take the focus from that control.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override
    {
        if (hasFocus())
            QListWidget::currentChanged(current, previous);
        else
            QAbstractItemView::currentChanged(current, previous);
    }
    void focusInEvent(QFocusEvent *event) override
    {
        if (currentIndex().isValid()) {
            QListWidget::focusInEvent(event);
            return;
        }
        const QSignalBlocker listBlocker(this);
        const QSignalBlocker modelBlocker(selectionModel());
        QListWidget::focusInEvent(event);
        selectionModel()->clearCurrentIndex();
    }

    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index, const QEvent *event) const override
    {
        if (!index.isValid())
            return QItemSelectionModel::NoUpdate;
        QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
        if (flags & QItemSelectionModel::Deselect)
            flags = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        return flags;
    }
};

// A list of codes kept hidden beside a shown list, its entries parallel to the
// shown one's. Nobody sees it, so it tells a screen reader nothing either: its
// current entry and its selection, which follow the shown list's, are not
// announced (a list view announces both as they change, hidden or not).
class CodeList final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override
    {
        QAbstractItemView::currentChanged(current, previous);
    }
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override
    {
        QAbstractItemView::selectionChanged(selected, deselected);
    }
};

// Enter on a push button that has the focus presses it, as Space does. The
// buttons are never a window's default button, so Enter in a field still does
// nothing.
class EnterPresses final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            auto *button = qobject_cast<QPushButton *>(watched);
            if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                if (!key->isAutoRepeat())
                    button->click();
                return true;
            }
        }
        return false;
    }
};

// The keyboard focus, drawn as a frame round the control that holds it: black
// inside, white outside, so that it shows on the yellow background and on the
// dark blue bands alike; round the text of a clickable label. One per screen,
// over its controls; it takes no clicks.
class FocusFrame final : public QWidget {
public:
    explicit FocusFrame(QWidget *screen) : QWidget(screen)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        Accessibility::setDecorative(this);
        hide();
        connect(qApp, &QApplication::focusChanged, this, &FocusFrame::follow);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.setPen(QPen(Qt::black, 2));
        painter.drawRect(QRectF(rect()).adjusted(2, 2, -2, -2));
    }

private:
    void follow(QWidget *, QWidget *now)
    {
        if (!now || now == parentWidget() || now->window() != parentWidget()) {
            hide();
            return;
        }
        QRect area = now->rect();
        if (auto *link = qobject_cast<ClickableLabel *>(now))
            area = link->style()->itemTextRect(link->fontMetrics(), link->contentsRect(), int(link->alignment()), true,
                                               link->text());
        setGeometry(QRect(now->mapTo(parentWidget(), area.topLeft()), area.size()).adjusted(-4, -4, 4, 4));
        raise();
        show();
    }
};

} // namespace

int tw(int twips) { return qRound(twips / 15.0); }

void place(QWidget *widget, int left, int top, int width, int height)
{
    QRect area(tw(left), tw(top), tw(width), tw(height));
    // Arial is wider than the fonts the places were drawn for: a caption of one
    // line grows to the right rather than be cut, and a button's caption is set a
    // little smaller until it fits.
    if (auto *l = qobject_cast<QLabel *>(widget); l && !l->text().isEmpty() && l->pixmap().isNull()) {
        const QFontMetrics metrics(l->font());
        if (area.height() < 2 * metrics.height()) {
            l->setWordWrap(false);
            area.setWidth(qMax(area.width(), metrics.horizontalAdvance(l->text()) + 2));
        }
    } else if (auto *b = qobject_cast<QPushButton *>(widget)) {
        QFont font = b->font();
        const QString caption = QString(b->text()).remove(QLatin1Char('&'));
        while (font.pointSizeF() > 6.5 && QFontMetrics(font).horizontalAdvance(caption) + 8 > area.width()) {
            font.setPointSizeF(font.pointSizeF() - 0.25);
            b->setFont(font);
        }
    }
    widget->setGeometry(area);
}

void window(QWidget *screen, const QString &caption, int clientWidth, int clientHeight)
{
    screen->setWindowTitle(caption);
    screen->setFixedSize(tw(clientWidth), tw(clientHeight));
    screen->setAutoFillBackground(true);
    QPalette palette = screen->palette();
    palette.setColor(QPalette::Window, kYellow);
    screen->setPalette(palette);
    new FocusFrame(screen);
}

QFont boldArial(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QFont arial(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    return font;
}

QLabel *label(QWidget *parent, const QString &name, const QString &text, const QFont &font)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    // Values from the file are shown as typed, never read as markup.
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QLabel *band(QWidget *parent, const QString &name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setAutoFillBackground(true);
    QPalette palette = l->palette();
    palette.setColor(QPalette::Window, kDarkBlue);
    l->setPalette(palette);
    Accessibility::setDecorative(l);
    return l;
}

QLabel *valueLabel(QWidget *parent, const QString &name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    l->setAutoFillBackground(true);
    l->setFrameShape(QFrame::Box);
    QPalette palette = l->palette();
    palette.setColor(QPalette::Window, Qt::white);
    l->setPalette(palette);
    return l;
}

QLineEdit *textField(QWidget *parent, const QString &name, int maxLength)
{
    auto *t = new QLineEdit(parent);
    t->setObjectName(name);
    t->setMaxLength(maxLength);
    t->setValidator(new WholeCharacters(t));
    return t;
}

void showWhole(QLineEdit *field, const QString &text, int maxLength)
{
    field->setMaxLength(qMax(maxLength, int(text.size())));
    field->setText(text);
}

QLineEdit *passwordField(QWidget *parent, const QString &name, int maxLength)
{
    QLineEdit *t = textField(parent, name, maxLength);
    t->setEchoMode(QLineEdit::Password);
    t->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    return t;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setDefault(false);
    static EnterPresses *const enterPresses = new EnterPresses(qApp);
    b->installEventFilter(enterPresses);
    return b;
}

QComboBox *choice(QWidget *parent, const QString &name)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(false);
    // The entry chosen with the keyboard is said, as a sighted user sees it shown.
    QObject::connect(c, &QComboBox::currentIndexChanged, c, [c] { Accessibility::ChoiceChanged(c); });
    return c;
}

QListWidget *list(QWidget *parent, const QString &name)
{
    auto *l = new PickList(parent);
    l->setObjectName(name);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setUniformItemSizes(true);
    return l;
}

QWidget *kioskFrame(const QString &caption) { return new KioskFrame(caption); }

void showKioskFrame(QWidget *frame)
{
    // At the display's size from the start: also where no window manager makes a
    // window full screen, and without a first frame of the wrong size that a
    // Wayland compositor would have to resize.
    frame->resize(frame->screen()->size());
    frame->showFullScreen();
}

QListWidget *codeList(QWidget *parent, const QString &name)
{
    auto *l = new CodeList(parent);
    l->setObjectName(name);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setUniformItemSizes(true);
    l->hide();
    return l;
}

void caption(QLabel *caption, QWidget *control)
{
    caption->setBuddy(control);
    if (!qobject_cast<QLabel *>(control))
        control->setAccessibleName(caption->text());
}

} // namespace Look

ClickableLabel::ClickableLabel(QWidget *parent, const QString &name, const QString &text) : QLabel(text, parent)
{
    setObjectName(name);
    setFont(Look::boldArial());
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Look::kLinkBlue);
    setPalette(palette);
    setCursor(Qt::PointingHandCursor);
    // Reached with Tab only: a click acts at once and needs no focus.
    setFocusPolicy(Qt::TabFocus);
}

void ClickableLabel::click() { emit clicked(); }

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        click();
}

void ClickableLabel::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)) {
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QLabel::keyPressEvent(event);
}
