#include "benchdata.h"

#include "records/program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <sqlite3.h>
#include <stdexcept>

namespace kestrella::bench {
namespace {

QString randomText(QRandomGenerator& gen, int minLength, int maxLength)
{
    static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ ");
    const int length = int(gen.bounded(minLength, maxLength + 1));
    QString text(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        text[i] = letters.at(int(gen.bounded(qsizetype(letters.size()))));
    return text;
}

// About one name in twenty holds letters outside ASCII, as lists in many languages do: accented Latin at the start or
// inside, and words of other scripts. Those names need the collator itself to find their place in the list.
QString randomName(QRandomGenerator& gen)
{
    static const QStringList words =
        QStringLiteral(
            "\u00c9mile \u00c4rzte \u00d6l \u00c7a Stra\u00dfe Cr\u00e8me \u00d1and\u00fa \u00d8st \u0141\u00f3d\u017a "
            "\u0160koda \u041e\u0431\u043c\u0435\u043d \u0391\u03bd\u03c4\u03b1\u03bb\u03bb\u03b1\u03b3\u03ae "
            "\u4ea4\u63db \ud2b8\ub798\ud53d")
            .split(u' ');
    QString name = randomText(gen, 5, 40);
    if (gen.bounded(20) == 0) {
        const QString& word = words.at(gen.bounded(words.size()));
        name.insert(gen.bounded(2) ? 0 : gen.bounded(name.size() + 1), word);
    }
    return name;
}

void check(int rc, sqlite3* db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(sqlite3_errmsg(db));
}

void generate(const QString& path, int records)
{
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db);
    check(sqlite3_exec(db, programsTableSchema().toUtf8().constData(), nullptr, nullptr, nullptr), db);
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "insert into Programs values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)", -1, &st,
                             nullptr),
          db);
    QRandomGenerator gen(static_cast<quint32>(records));
    const QStringList types = programTypes();
    const QStringList ratings = programRatings();
    auto bind = [&](int index, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    };
    for (int i = 0; i < records; ++i) {
        bind(1, randomName(gen));
        bind(2, randomText(gen, 4, 12));
        bind(3, randomText(gen, 6, 12));
        bind(4, QStringLiteral("http://") + randomText(gen, 33, 73).remove(' '));
        bind(5, QStringLiteral("http://") + randomText(gen, 33, 73).remove(' '));
        bind(6, QStringLiteral("http://") + randomText(gen, 33, 73).remove(' '));
        bind(7, QStringLiteral("03/05/26"));
        bind(8, types.at(i % types.size()));
        bind(9, ratings.at(i % ratings.size()));
        bind(10, randomText(gen, 0, 500));
        check(sqlite3_step(st), db);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    for (const QString& index : programsIndexes())
        check(sqlite3_exec(db, index.toUtf8().constData(), nullptr, nullptr, nullptr), db);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

} // namespace

QString databaseWith(int records)
{
    // The report's driver shares one set of files between the benchmark programs through this variable;
    // on their own they make theirs in a temporary folder.
    static QTemporaryDir temporary;
    static const QString shared = qEnvironmentVariable("KESTRELLA_BENCH_DATA");
    static QMap<int, QString> made;
    if (!made.contains(records)) {
        const QDir dir(shared.isEmpty() ? temporary.path() : shared);
        dir.mkpath(QString::number(records));
        const QString path = dir.filePath(QStringLiteral("%1/datReferral.mdb").arg(records));
        if (!QFileInfo::exists(path)) {
            const QString partial = path + QStringLiteral(".partial");
            QFile::remove(partial);
            generate(partial, records);
            QFile::rename(partial, path);
        }
        made.insert(records, path);
    }
    return made.value(records);
}

QString applicationFolderWith(int records)
{
    return QFileInfo(databaseWith(records)).absolutePath();
}

} // namespace kestrella::bench
