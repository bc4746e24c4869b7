#include "Accessibility.h"

#include "Look.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <memory>

namespace Accessibility {

namespace {

const char kDecorative[] = "pollarisDecorative";

// A screen: a frame named by its window caption, whose children are the controls
// a user can see. A code list kept hidden beside a visible list, and the bands,
// are not there at all.
class ScreenInterface final : public QAccessibleWidget {
public:
    explicit ScreenInterface(QWidget *screen) : QAccessibleWidget(screen, QAccessible::Window) {}

    int childCount() const override { return int(shown().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> widgets = shown();
        return index >= 0 && index < widgets.size() ? QAccessible::queryAccessibleInterface(widgets.at(index))
                                                    : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(shown().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    QList<QWidget *> shown() const
    {
        QList<QWidget *> widgets;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !w->isHidden() && !w->property(kDecorative).toBool())
                widgets.append(w);
        }
        return widgets;
    }
};

// A clickable label: a link whose press action is a click on its text.
class LinkInterface final : public QAccessibleWidget {
public:
    explicit LinkInterface(ClickableLabel *label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<ClickableLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction())
            static_cast<ClickableLabel *>(widget())->click();
        else
            QAccessibleWidget::doAction(action);
    }
    QStringList keyBindingsForAction(const QString &action) const override
    {
        return action == pressAction() ? QStringList{QStringLiteral("Return"), QStringLiteral("Space")} : QStringList();
    }
};

// A label that shows a value, read together with the caption that names it.
class CaptionedValueInterface final : public QAccessibleWidget {
public:
    CaptionedValueInterface(QLabel *value, QLabel *caption)
        : QAccessibleWidget(value, QAccessible::StaticText), m_caption(caption)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        QString caption = m_caption ? m_caption->text() : QString();
        const QString value = static_cast<QLabel *>(widget())->text().trimmed();
        if (value.isEmpty() || caption.isEmpty())
            return caption.isEmpty() ? value : caption;
        if (!caption.endsWith(QLatin1Char(':')))
            caption += QLatin1Char(':');
        return caption + QLatin1Char(' ') + value;
    }

private:
    QPointer<QLabel> m_caption;
};

// What the program announces: a notification that appears, read by its text.
class AnnouncementInterface final : public QAccessibleWidget {
public:
    explicit AnnouncementInterface(QLabel *label) : QAccessibleWidget(label, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<QLabel *>(widget())->text() : QAccessibleWidget::text(t);
    }
};

const char kAnnouncer[] = "pollarisAnnouncement";

// The caption whose buddy is this label, if any.
QLabel *captionOf(QLabel *label)
{
    if (!label->parentWidget())
        return nullptr;
    for (QObject *o : label->parentWidget()->children()) {
        auto *caption = qobject_cast<QLabel *>(o);
        if (caption && caption != label && caption->buddy() == label)
            return caption;
    }
    return nullptr;
}

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("Screen"))
        return new ScreenInterface(static_cast<QWidget *>(object));
    if (className == QLatin1String("ClickableLabel"))
        return new LinkInterface(static_cast<ClickableLabel *>(object));
    if (className == QLatin1String("QLabel")) {
        auto *label = static_cast<QLabel *>(object);
        if (label->objectName() == QLatin1String(kAnnouncer))
            return new AnnouncementInterface(label);
        if (QLabel *caption = captionOf(label))
            return new CaptionedValueInterface(label, caption);
    }
    return nullptr;
}

// The announcement shown last, hidden again as the focus moves on.
QPointer<QLabel> g_shownAnnouncement;

bool isPasswordField(QObject *object)
{
    auto *field = qobject_cast<QLineEdit *>(object);
    return field && field->echoMode() != QLineEdit::Normal;
}

// While a password field has the focus, every event goes through here: what the
// field tells of its text is a mask, as it shows it (a line edit tells the
// characters typed, and a screen reader echoes them). The rest passes as it is,
// but for a list's model changes, which the lists have taken in already and which
// no screen reader needs while a password is typed.
void maskPasswords(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::TableModelChanged)
        return;
    std::unique_ptr<QAccessibleEvent> masked;
    if (isPasswordField(event->object())) {
        const auto mask = [](const QString &text) { return QString(text.size(), QLatin1Char('*')); };
        QObject *field = event->object();
        switch (event->type()) {
        case QAccessible::TextInserted: {
            auto *e = static_cast<QAccessibleTextInsertEvent *>(event);
            masked = std::make_unique<QAccessibleTextInsertEvent>(field, e->changePosition(), mask(e->textInserted()));
            break;
        }
        case QAccessible::TextRemoved: {
            auto *e = static_cast<QAccessibleTextRemoveEvent *>(event);
            masked = std::make_unique<QAccessibleTextRemoveEvent>(field, e->changePosition(), mask(e->textRemoved()));
            break;
        }
        case QAccessible::TextUpdated: {
            auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
            masked = std::make_unique<QAccessibleTextUpdateEvent>(field, e->changePosition(), mask(e->textRemoved()),
                                                                  mask(e->textInserted()));
            break;
        }
        default: break;
        }
    }
    // Sent on as Qt sends any event, this handler out of the way meanwhile.
    const QAccessible::UpdateHandler self = QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(masked ? masked.get() : event);
    QAccessible::installUpdateHandler(self);
}

void focusChanged(QWidget *, QWidget *now)
{
    if (g_shownAnnouncement)
        g_shownAnnouncement->hide();
    const bool password = isPasswordField(now);
    const QAccessible::UpdateHandler current = QAccessible::installUpdateHandler(password ? maskPasswords : nullptr);
    if (!password && current && current != maskPasswords)
        QAccessible::installUpdateHandler(current); // someone else's; not ours to take away
}

} // namespace

void install()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(factory);
        QObject::connect(qApp, &QApplication::focusChanged, qApp, focusChanged);
    }
    installed = true;
}

void Announce(const QString &text)
{
    QWidget *focused = QApplication::focusWidget();
    if (!focused || text.isEmpty() || !QAccessible::isActive())
        return;
    // In a list, the entry that has the focus is read with its description, which
    // a screen reader asks for once the action that moved to it is over.
    if (auto *view = qobject_cast<QAbstractItemView *>(focused); view && view->currentIndex().isValid()) {
        view->model()->setData(view->currentIndex(), text, Qt::AccessibleDescriptionRole);
        return;
    }
    // A notification that appears on the screen that has the focus, taking no room
    // on it: a screen reader reads a notification as it appears.
    QWidget *screen = focused->window();
    auto *announcement = screen->findChild<QLabel *>(QLatin1String(kAnnouncer), Qt::FindDirectChildrenOnly);
    if (!announcement) {
        announcement = new QLabel(screen);
        announcement->setObjectName(QLatin1String(kAnnouncer));
        announcement->setGeometry(0, 0, 0, 0);
    }
    announcement->hide();
    announcement->setText(text);
    announcement->show();
    g_shownAnnouncement = announcement;
}

ShownValues::ShownValues()
{
    QWidget *focused = QApplication::focusWidget();
    if (!focused || !QAccessible::isActive())
        return;
    for (QLabel *label : focused->window()->findChildren<QLabel *>())
        if (captionOf(label))
            m_values.append({label, label->text()});
}

void ShownValues::AnnounceChanges() const
{
    // All the values shown, when any of them changed: what the screen now says.
    bool changed = false;
    QStringList shown;
    for (const auto &[label, before] : m_values) {
        if (!label || !label->isVisible())
            continue;
        changed = changed || label->text() != before;
        if (label->text().trimmed().isEmpty())
            continue;
        QAccessibleInterface *read = QAccessible::queryAccessibleInterface(label);
        shown << (read ? read->text(QAccessible::Name) : label->text());
    }
    if (changed)
        Announce(shown.join(QStringLiteral(". ")));
}

void ChoiceChanged(QComboBox *choice)
{
    // The entry now chosen takes the screen reader's attention, as the entry of a
    // list does: a choice's own list of entries tells of it (a choice that changes
    // says nothing that a screen reader reads).
    if (!choice->hasFocus() || choice->currentIndex() < 0 || !QAccessible::isActive())
        return;
    QAccessibleEvent chosen(choice->view(), QAccessible::Focus);
    chosen.setChild(choice->currentIndex());
    QAccessible::updateAccessibility(&chosen);
}

void setDecorative(QWidget *widget) { widget->setProperty(kDecorative, true); }

} // namespace Accessibility
