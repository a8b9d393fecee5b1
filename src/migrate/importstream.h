#pragma once

#include "records/datasource.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrella {

// The importer's output did not follow its form (importwire.h); what it says is for the developer.
class ImportStreamError : public std::runtime_error
{
public:
    explicit ImportStreamError(const QString& what)
        : std::runtime_error(what.toStdString())
    {
    }
};

// What the importer reports, item by item.
class ImportStreamHandler
{
public:
    virtual ~ImportStreamHandler() = default;
    virtual void total(qint64 rows) = 0;
    virtual void row(const std::vector<FieldValue>& fields) = 0;
    virtual void end(qint64 rows) = 0;
    virtual void failure(int code, qint64 detail) = 0;
};

// Reads the importer's output as it arrives, in pieces of any size, and checks every byte of it:
// the form, the counts, the lengths and that all text is UTF-8. A stored Date/Time last login
// becomes the "mm/dd/yy" text the program itself writes.
class ImportStreamParser
{
public:
    explicit ImportStreamParser(const QLocale& locale = QLocale());

    // Throws ImportStreamError at the first thing out of form; exceptions from the handler pass through.
    void feed(QByteArrayView bytes, ImportStreamHandler& handler);
    // The stream has ended: throws if it ended inside an item or without its last line.
    void finish() const;

    bool finished() const { return m_state == State::Done; }
    qint64 rowsRead() const { return m_rows; }

private:
    enum class State
    {
        Magic,
        TotalOrFailure,
        Rows,
        Done
    };
    bool parseOne(ImportStreamHandler& handler);
    std::optional<qint64> number(qsizetype& at, char terminator) const;
    std::optional<FieldValue> field(qsizetype& at, int index) const;

    QLocale m_locale;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    State m_state = State::Magic;
    qint64 m_rows = 0;
};

// A Jet Date/Time (days since 30 December 1899; the fraction is the time of day) as the last-login
// text "mm/dd/yy". No value for anything outside the dates Access can hold (years 100 to 9999).
std::optional<QString> jetDateText(double days, const QLocale& locale = QLocale());

} // namespace kestrella
