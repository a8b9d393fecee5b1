#include "migrate/importstream.h"

#include "app/clock.h"
#include "migrate/importwire.h"

#include <QDate>
#include <QStringDecoder>
#include <cmath>

namespace kestrella {
namespace wire = importwire;

namespace {

constexpr int MaxDigits = 12;

[[noreturn]] void outOfForm(const QString& what)
{
    throw ImportStreamError(what);
}

} // namespace

std::optional<QString> jetDateText(double days, const QLocale& locale)
{
    // Access holds dates from 1 January 100 (day -657434) to 31 December 9999 (day 2958465). Before
    // 1899 the fraction still counts forward from the start of the day, so the day is the whole part.
    if (!std::isfinite(days))
        return std::nullopt;
    const double day = std::trunc(days);
    if (day < -657434.0 || day > 2958465.0)
        return std::nullopt;
    return lastLoginText(QDate(1899, 12, 30).addDays(qint64(day)), locale);
}

ImportStreamParser::ImportStreamParser(const QLocale& locale)
    : m_locale(locale)
{
}

void ImportStreamParser::feed(QByteArrayView bytes, ImportStreamHandler& handler)
{
    m_buffer.append(bytes);
    while (parseOne(handler)) {
    }
    m_buffer.remove(0, m_at);
    m_at = 0;
}

void ImportStreamParser::finish() const
{
    if (m_state != State::Done)
        outOfForm(QStringLiteral("the output ended before its last line"));
}

// Reads digits up to the terminator. No value when the data so far ends first.
std::optional<qint64> ImportStreamParser::number(qsizetype& at, char terminator) const
{
    qint64 value = 0;
    int digits = 0;
    for (; at < m_buffer.size(); ++at) {
        const char c = m_buffer.at(at);
        if (c == terminator && digits > 0) {
            ++at;
            return value;
        }
        if (c < '0' || c > '9' || digits == MaxDigits)
            outOfForm(QStringLiteral("a number is out of form"));
        value = value * 10 + (c - '0');
        ++digits;
    }
    return std::nullopt;
}

std::optional<FieldValue> ImportStreamParser::field(qsizetype& at, int index) const
{
    if (at >= m_buffer.size())
        return std::nullopt;
    const char tag = m_buffer.at(at++);
    if (tag == wire::NullTag)
        return std::optional<FieldValue>(std::in_place);
    if (tag != wire::TextTag && tag != wire::DateTag)
        outOfForm(QStringLiteral("field %1 of row %2 has an unknown kind").arg(index + 1).arg(m_rows + 1));
    if (tag == wire::DateTag && index != wire::LastLoginField)
        outOfForm(QStringLiteral("field %1 of row %2 is a date").arg(index + 1).arg(m_rows + 1));
    const auto length = number(at, ':');
    if (!length)
        return std::nullopt;
    const auto limit = qint64(tag == wire::TextTag ? wire::MaxFieldBytes : wire::MaxDateBytes);
    if (*length > limit)
        outOfForm(QStringLiteral("field %1 of row %2 is too long").arg(index + 1).arg(m_rows + 1));
    if (m_buffer.size() - at < *length)
        return std::nullopt;
    const QByteArrayView bytes = QByteArrayView(m_buffer).sliced(at, *length);
    at += *length;

    if (tag == wire::TextTag) {
        // Strictly UTF-8, and a leading byte order mark is text like any other character.
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString text = utf8.decode(bytes);
        if (utf8.hasError())
            outOfForm(QStringLiteral("field %1 of row %2 is not UTF-8").arg(index + 1).arg(m_rows + 1));
        if (text.isNull())
            text = QStringLiteral(""); // empty text, which is not the same as no value
        return FieldValue(std::move(text));
    }
    for (const char c : bytes) {
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
            outOfForm(QStringLiteral("the date in row %1 is out of form").arg(m_rows + 1));
    }
    bool ok = false;
    const double days = bytes.toByteArray().toDouble(&ok);
    const auto text = ok ? jetDateText(days, m_locale) : std::nullopt;
    if (!text)
        outOfForm(QStringLiteral("the date in row %1 is not one Access can hold").arg(m_rows + 1));
    return FieldValue(*text);
}

// Takes one whole item off the buffer and reports it; false when the data so far ends inside it.
bool ImportStreamParser::parseOne(ImportStreamHandler& handler)
{
    const qsizetype available = m_buffer.size() - m_at;
    if (available == 0)
        return false;
    if (m_state == State::Done)
        outOfForm(QStringLiteral("there is output after its last line"));
    if (m_state == State::Magic) {
        const QByteArrayView magic(wire::Magic, sizeof wire::Magic - 1);
        const qsizetype n = qMin(available, magic.size());
        if (QByteArrayView(m_buffer).sliced(m_at, n) != magic.first(n))
            outOfForm(QStringLiteral("it does not begin as the importer's output"));
        if (n < magic.size())
            return false;
        m_at += n;
        m_state = State::TotalOrFailure;
        return true;
    }

    qsizetype at = m_at;
    const char tag = m_buffer.at(at++);
    if (tag == wire::FailureTag) {
        const auto code = number(at, ',');
        const auto detail = code ? number(at, '\n') : std::nullopt;
        if (!detail)
            return false;
        m_at = at;
        m_state = State::Done;
        handler.failure(int(*code), *detail);
        return true;
    }
    if (m_state == State::TotalOrFailure) {
        if (tag != wire::TotalTag)
            outOfForm(QStringLiteral("it does not say how many rows there are"));
        const auto total = number(at, '\n');
        if (!total)
            return false;
        m_at = at;
        m_state = State::Rows;
        handler.total(*total);
        return true;
    }
    if (tag == wire::EndTag) {
        const auto sent = number(at, '\n');
        if (!sent)
            return false;
        if (*sent != m_rows)
            outOfForm(QStringLiteral("it says it sent %1 rows, but %2 arrived").arg(*sent).arg(m_rows));
        m_at = at;
        m_state = State::Done;
        handler.end(*sent);
        return true;
    }
    if (tag != wire::RowTag)
        outOfForm(QStringLiteral("row %1 is out of form").arg(m_rows + 1));
    std::vector<FieldValue> values;
    values.reserve(wire::FieldCount);
    for (int f = 0; f < wire::FieldCount; ++f) {
        auto value = field(at, f);
        if (!value)
            return false;
        values.push_back(std::move(*value));
    }
    if (at >= m_buffer.size())
        return false;
    if (m_buffer.at(at) != '\n')
        outOfForm(QStringLiteral("row %1 does not end after ten fields").arg(m_rows + 1));
    m_at = at + 1;
    ++m_rows;
    handler.row(values);
    return true;
}

} // namespace kestrella
