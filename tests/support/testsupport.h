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

namespace kestrella::test {

using StoredRow = std::vector<std::optional<QString>>;

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
// Every row of Programs in table order, fields in table order, read with the raw SQLite API.
std::vector<StoredRow> readAllRows(const QString& path);
// One row's fields by name, for the first row whose ProName equals name.
std::optional<StoredRow> findRow(const QString& path, const QString& name);
int fieldColumn(const QString& field);
QByteArray fileBytes(const QString& path);
void writeFileBytes(const QString& path, const QByteArray& bytes);

// Answers message boxes as told and records every one shown.
class ScriptedMessages : public MessageService
{
public:
    ScriptedMessages();
    ~ScriptedMessages() override;
    MessageAnswer show(QWidget* parent, const Message& message) override;
    void queueAnswer(MessageAnswer answer) { m_answers.append(answer); }

    QList<Message> shown;

private:
    QList<MessageAnswer> m_answers;
};

// Points GIO at a private desktop under root (root/data, root/config, root/system with the system's MIME
// database), so the desktop entries and defaults a test writes there are the only ones it sees.
void usePrivateDesktop(const QString& root);

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
    explicit FakeClock(QDate day);
    ~FakeClock() override;
    QDate today() const override { return day; }
    QDate day;
};

} // namespace kestrella::test
