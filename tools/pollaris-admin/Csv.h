#pragma once

#include <QString>
#include <QStringList>

// Comma-separated values as the tool writes them: fields quoted as RFC 4180 has
// them, and every text that a spreadsheet would take for a formula made harmless.
namespace Csv {

// A text field. One that begins with '=', '+', '-', '@', a tab or a carriage
// return gets a leading "'", so that a spreadsheet shows it as the text it is
// instead of running it (a candidate named =HYPERLINK(...) stays a name); a
// field with a comma, a quote or a line break is then quoted, its quotes doubled.
QString text(const QString &value);
// A number the tool counted itself, written as it is so that it stays a number.
QString number(qint64 value);
// A row of fields made by text() or number(), ended by CRLF.
QString row(const QStringList &fields);

} // namespace Csv
