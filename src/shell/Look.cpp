#include "Look.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QValidator>
#include <QtMath>

namespace Look {

namespace {

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
    return b;
}

QComboBox *choice(QWidget *parent, const QString &name)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(false);
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

} // namespace Look

ClickableLabel::ClickableLabel(QWidget *parent, const QString &name, const QString &text) : QLabel(text, parent)
{
    setObjectName(name);
    setFont(Look::boldArial());
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Look::kLinkBlue);
    setPalette(palette);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
