#include "app/clock.h"

namespace kestrella {
namespace {

class SystemClock final : public Clock
{
public:
    QDate today() const override { return QDate::currentDate(); }
};

const SystemClock systemClock;
const Clock* installedClock = nullptr;

} // namespace

const Clock& Clock::current()
{
    return installedClock ? *installedClock : systemClock;
}

void Clock::install(const Clock* clock)
{
    installedClock = clock;
}

QString dateSeparator(const QLocale& locale)
{
    // The separator is whatever stands between the first two fields of the short date format.
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format.at(i).isLetter())
        ++i;
    qsizetype end = i;
    while (end < format.size() && !format.at(end).isLetter())
        ++end;
    const QString separator = format.mid(i, end - i).trimmed();
    return separator.isEmpty() ? QStringLiteral("/") : separator;
}

QString lastLoginText(const QDate& date, const QLocale& locale)
{
    const QString sep = dateSeparator(locale);
    auto twoDigits = [](int n) {
        return QStringLiteral("%1").arg(n % 100, 2, 10, QLatin1Char('0'));
    };
    return twoDigits(date.month()) + sep + twoDigits(date.day()) + sep + twoDigits(date.year());
}

} // namespace kestrella
