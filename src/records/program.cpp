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

namespace {

inline char16_t folded(char16_t c)
{
    if (c < 128)
        return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
    return QChar(c).toCaseFolded().unicode();
}

} // namespace

bool listsBefore(const QString& a, const QString& b)
{
    // Case folding one character at a time, with a quick path for the ASCII that most names are made of.
    const qsizetype common = std::min(a.size(), b.size());
    const char16_t* pa = reinterpret_cast<const char16_t*>(a.constData());
    const char16_t* pb = reinterpret_cast<const char16_t*>(b.constData());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t fa = folded(pa[i]);
        const char16_t fb = folded(pb[i]);
        if (fa != fb)
            return fa < fb;
    }
    return a.size() < b.size();
}

QString cleanProgramName(const QString& typed)
{
    QString cleaned = typed;
    cleaned.replace(QLatin1Char('\''), QLatin1Char('`'));
    return cleaned;
}

} // namespace kestrella
