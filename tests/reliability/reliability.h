#pragma once

#include "records/program.h"
#include "support/testsupport.h"

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <sqlite3.h>

namespace kestrella::test {

// The driver executable the crash, lock and start-up cases run in a process of its own.
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

// UTF-8 as written: QString::fromUtf8 would drop a leading U+FEFF, which in a value is text.
inline QString exactText(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(utf8);
}

// Every row of Programs in table order, each value exactly as stored.
inline std::vector<StoredRow> storedRows(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    std::vector<StoredRow> rows;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const QByteArray sql =
        QStringLiteral("select %1 from Programs order by rowid").arg(ProgramFields::all().join(',')).toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            StoredRow row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto* text = static_cast<const char*>(sqlite3_column_blob(st, c));
                row.push_back(sqlite3_column_type(st, c) == SQLITE_NULL
                                  ? std::nullopt
                                  : std::optional(exactText(QByteArrayView(text, sqlite3_column_bytes(st, c)))));
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

} // namespace kestrella::test
