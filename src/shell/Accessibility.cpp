#include "Accessibility.h"

#include "Look.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QPointer>

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
        if (QLabel *caption = captionOf(label))
            return new CaptionedValueInterface(label, caption);
    }
    return nullptr;
}

} // namespace

void install()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(factory);
    installed = true;
}

void setDecorative(QWidget *widget) { widget->setProperty(kDecorative, true); }

} // namespace Accessibility
