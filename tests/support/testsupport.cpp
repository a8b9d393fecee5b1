#include "support/testsupport.h"

#include "records/program.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <sqlite3.h>

namespace kestrella::test {
namespace {

struct Db
{
    explicit Db(const QString& path, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &handle, flags, nullptr) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Db() { sqlite3_close(handle); }
    void exec(const QString& sql) const
    {
        char* error = nullptr;
        if (sqlite3_exec(handle, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(sql), error);
    }
    sqlite3* handle = nullptr;
};

} // namespace

void createDatabase(const QString& path, const QList<SeedRecord>& records)
{
    Db db(path);
    db.exec(programsTableSchema());
    db.exec(QStringLiteral("BEGIN"));
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db.handle,
                       "insert into Programs (ProName, ProType, ProRate, ProUrlLogin, ProReferral, ProStart, "
                       "ProComments) values (?,?,?,?,?,?,?)",
                       -1, &st, nullptr);
    for (const SeedRecord& r : records) {
        int column = 0;
        for (const auto* value : {&r.name, &r.type, &r.rate, &r.login, &r.referral, &r.start, &r.comments}) {
            // Its length given, so a NUL inside is text; no text at all binds NULL.
            const QByteArray utf8 = *value ? (*value)->toUtf8() : QByteArray();
            sqlite3_bind_text(st, ++column, *value ? utf8.constData() : nullptr, int(utf8.size()), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(st) != SQLITE_DONE)
            qFatal("insert failed");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    db.exec(QStringLiteral("COMMIT"));
}

void runSql(const QString& path, const QString& sql)
{
    Db(path).exec(sql);
}

std::vector<StoredRow> readAllRows(const QString& path)
{
    Db db(path, SQLITE_OPEN_READONLY);
    sqlite3_stmt* st = nullptr;
    const QString sql = QStringLiteral("select %1 from Programs order by rowid").arg(ProgramFields::all().join(','));
    if (sqlite3_prepare_v2(db.handle, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(db.handle));
    std::vector<StoredRow> rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
        StoredRow row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            // QString::fromUtf8 would drop a leading U+FEFF, which in a value is text.
            QStringDecoder exact(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
            const bool isNull = sqlite3_column_type(st, c) == SQLITE_NULL; // asked first: reading converts
            const QByteArrayView text(static_cast<const char*>(sqlite3_column_blob(st, c)),
                                      sqlite3_column_bytes(st, c));
            row.push_back(isNull ? std::nullopt : std::optional(QString(exact(text))));
        }
        rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
}

std::optional<StoredRow> findRow(const QString& path, const QString& name)
{
    const std::vector<StoredRow> rows = readAllRows(path);
    const auto found =
        std::find_if(rows.begin(), rows.end(), [&](const StoredRow& row) { return row[Col::Name] == name; });
    return found == rows.end() ? std::nullopt : std::optional(*found);
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

FileLock::FileLock(const QString& path, bool readersMayPass)
{
    Db db(path, SQLITE_OPEN_READWRITE);
    db.exec(QLatin1String(readersMayPass ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE"));
    std::swap(m_db, db.handle); // held past this scope
}

void FileLock::release()
{
    if (m_db)
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
    m_db = nullptr;
}

MessageAnswer ScriptedMessages::show(QWidget*, const Message& message)
{
    shown.append(message);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

} // namespace kestrella::test
