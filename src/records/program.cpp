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

QStringList programsIndexes()
{
    return {QStringLiteral("CREATE INDEX IF NOT EXISTS ProgramsByName ON Programs (ProName)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS ProgramsByListName ON Programs (ProName COLLATE NOCASE)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS ProgramsByTypeAndListName ON Programs "
                           "(ProType, ProName COLLATE NOCASE)")};
}

QString cleanProgramName(const QString& typed)
{
    QString cleaned = typed;
    cleaned.replace(QLatin1Char('\''), QLatin1Char('`'));
    return cleaned;
}

} // namespace kestrella
