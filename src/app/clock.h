#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

namespace kestrella {

// Today's date comes through here so tests can stand on any day they like.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDate today() const = 0;

    // The clock in use; the system clock unless a test installed another.
    static const Clock& current();
    // Installs a clock (not owned); nullptr restores the system clock.
    static void install(const Clock* clock);
};

// The last-login text: month, day and year, two digits each, always in that order, joined by the
// locale's own date separator ("03/05/26" under United States settings). The default locale follows the
// system's regional settings.
QString lastLoginText(const QDate& date, const QLocale& locale = QLocale());

// The separator the locale puts between the parts of a short date.
QString dateSeparator(const QLocale& locale);

} // namespace kestrella
