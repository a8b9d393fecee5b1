#pragma once

#include <QString>
#include <QStringList>

namespace kestrella {

// The one kind of stored data: a row of the Programs table, ten text fields.
namespace ProgramFields {
inline const QString Name = QStringLiteral("ProName");
inline const QString UserName = QStringLiteral("ProUserName");
inline const QString Password = QStringLiteral("ProPassword");
inline const QString UrlLogin = QStringLiteral("ProUrlLogin");
inline const QString Referral = QStringLiteral("ProReferral");
inline const QString Start = QStringLiteral("ProStart");
inline const QString LastLogin = QStringLiteral("ProLastLogin");
inline const QString Type = QStringLiteral("ProType");
inline const QString Rate = QStringLiteral("ProRate");
inline const QString Comments = QStringLiteral("ProComments");
// In table order.
QStringList all();
} // namespace ProgramFields

inline const QString ProgramsTable = QStringLiteral("Programs");
// The data file, in the application folder.
inline const QString DataFileName = QStringLiteral("datReferral.mdb");
inline const QString ListAllEntry = QStringLiteral("List ALL");

// The ten program types in chooser order (not sorted).
QStringList programTypes();
// The type filter's entries: the ten types, then "List ALL".
QStringList sortFilterEntries();
// The four ratings in chooser order.
QStringList programRatings();

// Record sources. Spliced text is quoted so that it can only ever be a value: every apostrophe is
// doubled inside the literal, so a name stored with an apostrophe by another tool is still found.
QString selectAllStatement();
QString selectByTypeStatement(const QString& type);
QString selectByNameStatement(const QString& name);
QString quoteLiteral(const QString& text);

// The statements that make an empty file's table, and the indexes that keep lookups quick. Columns
// keep exact comparison; an index never changes which records a statement selects.
QString programsTableSchema();
QStringList programsIndexes();
QStringList programsIndexNames();

// Save keeps names free of apostrophes (stored files rely on it): each becomes a backquote.
QString cleanProgramName(const QString& typed);

} // namespace kestrella
