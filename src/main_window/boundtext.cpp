#include "main_window/boundtext.h"

#include "records/datasource.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <climits>

namespace kestrella {

void bindText(DataSource& source, QLineEdit* box, const QString& field)
{
    box->setMaxLength(INT_MAX); // never cut a stored value on display and write it back shorter
    source.bind(
        box, field, [box] { return box->text(); },
        [box](const QString& text) {
            box->setText(text);
            box->home(false); // show a long value from its start
        });
    QObject::connect(box, &QLineEdit::textChanged, &source, &DataSource::controlEdited);
}

void bindText(DataSource& source, QPlainTextEdit* box, const QString& field)
{
    // toPlainText would turn no-break spaces into blanks and line separators into line feeds, and store them so: the
    // raw text keeps every character, and only the breaks between its lines become line feeds.
    source.bind(
        box, field,
        [box] { return box->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')); },
        [box](const QString& text) { box->setPlainText(text); });
    QObject::connect(box, &QPlainTextEdit::textChanged, &source, &DataSource::controlEdited);
}

} // namespace kestrella
