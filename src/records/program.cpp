#include "records/program.h"

namespace kestrella {

QStringList ProgramFields::all()
{
    return {Name, UserName, Password, UrlLogin, Referral, Start, LastLogin, Type, Rate, Comments};
}

QStringList programTypes()
{
    return {QStringLiteral("Affiliate Links"),  QStringLiteral("Auto Exchange"),
            QStringLiteral("Banner Exchange"),  QStringLiteral("Exit Exchange"),
            QStringLiteral("Surf Exchange"),    QStringLiteral("Paid Sponsors"),
            QStringLiteral("Popup Exchange"),   QStringLiteral("Start Exchange"),
            QStringLiteral("Traffic Exchange"), QStringLiteral("Other")};
}

QStringList sortFilterEntries()
{
    return programTypes() << ListAllEntry;
}

QStringList programRatings()
{
    return {QStringLiteral("Excellent"), QStringLiteral("Good"), QStringLiteral("Fair"), QStringLiteral("Bad")};
}

QString quoteLiteral(const QString& text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QString selectAllStatement()
{
    return QStringLiteral("select * from [Programs];");
}

QString selectByTypeStatement(const QString& type)
{
    return QStringLiteral("select * from [Programs] where[ProType] = ") + quoteLiteral(type) + QLatin1Char(';');
}

QString selectByNameStatement(const QString& name)
{
    return QStringLiteral("select * from [Programs] where[ProName] = ") + quoteLiteral(name) + QLatin1Char(';');
}

QString programsTableSchema()
{
    QStringList columns;
    for (const QString& field : ProgramFields::all())
        columns << field + QStringLiteral(" TEXT");
    return QStringLiteral("CREATE TABLE Programs (%1)").arg(columns.join(QStringLiteral(", ")));
}

namespace {

struct ProgramsIndex
{
    const char* name;
    const char* columns;
};

constexpr ProgramsIndex Indexes[] = {{"ProgramsByName", "ProName"},
                                     {"ProgramsByListName", "ProName COLLATE NOCASE"},
                                     {"ProgramsByTypeAndListName", "ProType, ProName COLLATE NOCASE"}};

} // namespace

QStringList programsIndexNames()
{
    QStringList names;
    for (const ProgramsIndex& index : Indexes)
        names << QString::fromLatin1(index.name);
    return names;
}

QStringList programsIndexes()
{
    QStringList statements;
    for (const ProgramsIndex& index : Indexes)
        statements << QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON Programs (%2)")
                          .arg(QLatin1String(index.name), QLatin1String(index.columns));
    return statements;
}

QString cleanProgramName(const QString& typed)
{
    QString cleaned = typed;
    cleaned.replace(QLatin1Char('\''), QLatin1Char('`'));
    return cleaned;
}

} // namespace kestrella
