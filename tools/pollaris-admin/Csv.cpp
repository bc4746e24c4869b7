#include "Csv.h"

namespace Csv {

QString text(const QString &value)
{
    QString field = value;
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!field.isEmpty() && formulaStarts.contains(field.at(0)))
        field.prepend(QLatin1Char('\''));
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n')) &&
        !field.contains(QLatin1Char('\r')))
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString number(qint64 value) { return QString::number(value); }

QString row(const QStringList &fields) { return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n"); }

} // namespace Csv
