#pragma once

#include "app/clock.h"
#include "app/messages.h"
#include "records/datasource.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <vector>

struct sqlite3;

namespace kestrella::test {

using StoredRow = std::vector<std::optional<QString>>;

// The Programs table's columns in table order, as indexes into a StoredRow.
namespace Col {
enum : size_t
{
    Name,
    UserName,
    Password,
    Login,
    Referral,
    Start,
    LastLogin,
    Type,
    Rate,
    Comments
};
}

// A program record as the tests write it straight into a file: field name -> value (absent: NULL).
struct SeedRecord
{
    std::optional<QString> name;
    std::optional<QString> type = std::nullopt;
    std::optional<QString> rate = std::nullopt;
    std::optional<QString> login = std::nullopt;
    std::optional<QString> referral = std::nullopt;
    std::optional<QString> start = std::nullopt;
    std::optional<QString> comments = std::nullopt;
};

// Creates a database file with the Programs table holding the given records, in that order.
void createDatabase(const QString& path, const QList<SeedRecord>& records = {});
// Runs statements on the file through a connection of its own; a failure ends the test run.
void runSql(const QString& path, const QString& sql);
// Every row of Programs in table order, each value exactly as stored (a leading U+FEFF is text, not a mark).
std::vector<StoredRow> readAllRows(const QString& path);
// The first row whose ProName equals name.
std::optional<StoredRow> findRow(const QString& path, const QString& name);
QByteArray fileBytes(const QString& path);
void writeFileBytes(const QString& path, const QByteArray& bytes);

// A transaction another connection holds on the file until release: an exclusive one keeps readers out too.
class FileLock
{
public:
    FileLock(const QString& path, bool readersMayPass);
    ~FileLock() { release(); }
    void release();

private:
    sqlite3* m_db = nullptr;
};

// Answers message boxes as told and records every one shown.
class ScriptedMessages : public MessageService
{
public:
    ScriptedMessages() { MessageService::install(this); }
    ~ScriptedMessages() override { MessageService::install(nullptr); }
    MessageAnswer show(QWidget* parent, const Message& message) override;
    void queueAnswer(MessageAnswer answer) { m_answers.append(answer); }

    QList<Message> shown;

private:
    QList<MessageAnswer> m_answers;
};

// The open top-level window of a kind, if any (the closing window, the About box).
template <typename Window>
QPointer<Window> topLevelWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Window*>(w))
            return window;
    }
    return nullptr;
}

// A clock that says whatever day the test sets.
class FakeClock : public Clock
{
public:
    explicit FakeClock(QDate today)
        : day(today)
    {
        Clock::install(this);
    }
    ~FakeClock() override { Clock::install(nullptr); }
    QDate today() const override { return day; }
    QDate day;
};

} // namespace kestrella::test
