#pragma once

#include "records/packedtexts.h"
#include "records/storeerror.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QLineEdit;
class QPlainTextEdit;
struct sqlite3;
struct sqlite3_stmt;

namespace kestrella {

// A connection to a data file, read-write, set up as every connection of the store is (durability, busy timeout).
sqlite3* openReadWrite(const QByteArray& path);

// A field's value: no value (SQL NULL) is kept apart from empty text.
using FieldValue = std::optional<QString>;
using Bookmark = qint64;

class DataSource;
class SqliteStatement;

// One field of the current record, read and written by name.
class Field
{
public:
    FieldValue value() const;
    void setValue(const FieldValue& value);

private:
    friend class Recordset;
    Field(DataSource& source, int index)
        : m_source(&source)
        , m_index(index)
    {
    }
    DataSource* m_source;
    int m_index;
};

// The data source's open record set: a keyset of rowids in the record source's order, a current
// position, and the current record's pending changes.
class Recordset
{
public:
    void addNew();
    // Removes the current record from the table at once (a pending addition is simply dropped).
    void deleteCurrent();
    void moveFirst();
    void moveLast();
    void moveNext();
    qint64 recordCount() const;
    Bookmark bookmark() const;
    void setBookmark(Bookmark bookmark);
    Field fields(const QString& name);
    // Every value the prefetched field holds in the set (no-value entries left out), in list order
    // (see listsBefore), or nothing when the set was not read that way. The store lets go of them.
    std::optional<PackedTexts> takePrefetchedInListOrder();
    // Stores the current record's pending changes now, in one transaction.
    void update();
    // The same, with these values written into their fields first. They go into the table only with this store:
    // when it fails they are withdrawn, and what was pending before stays as it was.
    void update(const std::vector<std::pair<QString, FieldValue>>& writes);

    bool isAdding() const;
    bool hasCurrentRecord() const;
    bool eof() const;

private:
    friend class DataSource;
    explicit Recordset(DataSource& source)
        : m_source(source)
    {
    }
    DataSource& m_source;
};

// Plays the part of a window's data source: a database file, a record source, one open record set
// and the text boxes bound to its fields. Pending changes are stored when the record set next moves,
// is refreshed or closes. Failures raise StoreError.
class DataSource : public QObject
{
    Q_OBJECT

public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;

    QString databaseName() const { return m_databaseName; }
    void setDatabaseName(const QString& path);
    QString recordSource() const { return m_recordSource; }
    // A table name or a "select * from ..." statement; takes effect at the next refresh.
    void setRecordSource(const QString& source);

    void refresh();
    // Reloads every bound field from the current record and drops all pending changes.
    void updateControls();
    // Stores what is pending and lets go of the file.
    void close();
    bool isOpen() const;

    Recordset& recordset() { return m_recordset; }
    const Recordset& recordset() const { return m_recordset; }

    void bind(QLineEdit* box, const QString& field);
    void bind(QPlainTextEdit* box, const QString& field);

    // While frozen, moves do not repaint the bound fields; they catch up when the last freeze ends.
    class DisplayFreeze
    {
    public:
        explicit DisplayFreeze(DataSource& source);
        ~DisplayFreeze();
        DisplayFreeze(const DisplayFreeze&) = delete;
        DisplayFreeze& operator=(const DisplayFreeze&) = delete;

    private:
        DataSource& m_source;
    };

    // Whether a missing or zero-byte file is made into a new, empty database (the first run) or refused.
    void setCreateIfMissing(bool create) { m_createIfMissing = create; }

    // The field a walk over the whole set reads (the list's names): it is read with the set itself, so
    // the walk costs no second pass over the file.
    void setPrefetchedField(const QString& field) { m_prefetchedField = field; }

    // Fields every record source of this store must carry; a file lacking one is refused at refresh.
    void setRequiredFields(const QStringList& fields) { m_requiredFields = fields; }

private:
    friend class Recordset;
    friend class Field;
    using Row = std::vector<FieldValue>;

    struct Binding
    {
        QPointer<QObject> widget;
        QString field;
        std::function<QString()> text;
        std::function<void(const QString&)> setText;
        QString shown; // the text the store last put there
    };

    void openIfNeeded();
    void reopenIfReadOnly();
    void createEmptyDatabase();
    void addMissingIndexes();
    void prepareRowStatements(const QString& table);
    void readKeyset(const QString& sql, int prefetchedField, bool inFieldOrder);
    int fieldIndex(const QString& name) const;
    std::optional<qint64> currentKey() const;
    FieldValue pagedValue(qint64 position, int field);
    bool loadRow(qint64 key);
    void invalidateCaches();
    FieldValue storedValue(int field);
    FieldValue value(int field);
    void setValue(int field, const FieldValue& value);
    bool hasPendingChanges() const;
    void storePending();
    void writeRow(const std::map<int, FieldValue>& values);
    void dropPending();
    void moveTo(qint64 position);
    void moveToEnd(bool last);
    void showCurrent() noexcept;
    void addBinding(QObject* widget, const QString& field, std::function<QString()> text,
                    std::function<void(const QString&)> setText);
    void markTyped();

    QString m_databaseName;
    QString m_openedName;
    QString m_recordSource;
    QStringList m_requiredFields;
    sqlite3* m_db = nullptr;
    bool m_indexesChecked = false;
    bool m_createIfMissing = true;

    // The open record set.
    bool m_open = false;
    QString m_table;
    QStringList m_fields;
    std::vector<qint64> m_keys;
    QString m_keysetSql;
    qint64 m_keysetDataVersion = -1;
    quint64 m_writes = 0;
    quint64 m_keysetWrites = 0;
    QString m_prefetchedField;

    // One field of every record in the set, packed as UTF-8 text, in slots: the field's own order when
    // it was read that way (slotOfPosition then maps a record's position to its slot), else the set's.
    struct PrefetchedColumn
    {
        int field = -1;
        PackedTexts texts;
        std::vector<bool> isNull;
        std::vector<qint64> rowids;
        std::vector<quint32> slotOfPosition;
        void append(sqlite3_stmt* statement);
        FieldValue value(qint64 slot) const;
        FieldValue valueAt(qint64 position) const;
    };
    PrefetchedColumn m_prefetched;
    qint64 m_position = 0;         // index into m_keys; == size() is past the end
    bool m_currentDeleted = false; // m_position then names the record after the deleted one
    bool m_adding = false;
    std::map<int, FieldValue> m_written;

    // A walk reads one field a page of records at a time, so it costs one query per page and reads
    // no other column; the record on show is read whole.
    struct ColumnPage
    {
        qint64 start = -1;
        std::vector<FieldValue> values;
        std::vector<bool> present;
        std::unique_ptr<SqliteStatement> range;
        std::unique_ptr<SqliteStatement> list;
    };
    std::vector<ColumnPage> m_columns;
    std::unique_ptr<SqliteStatement> m_rowStatement;
    std::optional<qint64> m_rowKey;
    Row m_row;

    std::vector<Binding> m_bindings;
    bool m_loadingBindings = false;
    bool m_typed = false;
    int m_freezeDepth = 0;
    // The record the bound fields show (none: blank); typed text only ever goes to that record.
    std::optional<qint64> m_shownKey;
    bool m_showingNew = false;

    Recordset m_recordset{*this};
};

} // namespace kestrella
