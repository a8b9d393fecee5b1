#pragma once

#include <QString>

class QLineEdit;
class QPlainTextEdit;

namespace kestrella {

class DataSource;

// A text box shows a field of the source's current record, and what is typed there goes back to it.
void bindText(DataSource& source, QLineEdit* box, const QString& field);
void bindText(DataSource& source, QPlainTextEdit* box, const QString& field);

} // namespace kestrella
