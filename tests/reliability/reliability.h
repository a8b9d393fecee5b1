#pragma once

#include "records/program.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace kestrella::test {

// The process the crash test kills.
inline QString driverPath()
{
    return QStringLiteral(RELIABILITY_DRIVER);
}

// The sanitizers make every start and step several times slower: loops that exist only to multiply chances
// run fewer rounds there, so the suite keeps to its time in both builds.
constexpr bool SanitizedBuild = RELIABILITY_SANITIZED != 0;
constexpr int scaled(int normal, int sanitized)
{
    return SanitizedBuild ? sanitized : normal;
}

// The crash driver's records: every field of `name` at edit `version` says which version it belongs to, so a
// record whose fields come from two versions (an edit half applied) is told apart from either whole version. Some
// comments run over several database pages, so one save writes more than one page.
constexpr int CrashEdits = 3;
inline QStringList crashRecord(const QString& name, int version)
{
    const QString v = QString::number(version);
    static const int commentRepeats[] = {2, 300, 20, 450};
    return {
        name,
        name + QStringLiteral("-user-v") + v,
        QStringLiteral("pw'v") + v + QStringLiteral("\"") + name,
        QStringLiteral("http://login.example/") + name + QStringLiteral("?v=") + v,
        QStringLiteral("http://ref.example/") + name + QStringLiteral("/v") + v,
        QStringLiteral("http://start.example/v") + v,
        QDate(2020, 1, 1).addDays(version).toString(QStringLiteral("MM/dd/yy")),
        programTypes().at(version % programTypes().size()),
        programRatings().at(version % programRatings().size()),
        QStringLiteral("%1 v%2 line\n").arg(name, v).repeated(commentRepeats[version % 4]),
    };
}

} // namespace kestrella::test
