#pragma once

#include "records/boundfields.h"
#include "records/fieldvalue.h"
#include "records/keyset.h"
#include "records/storefile.h"
#include "records/tablerows.h"

namespace kestrella {

// Where a data source finds its records.
struct SourceSettings
{
    QString databaseName;
    QString recordSource;
    bool createIfMissing = true;
    // The field a walk over the whole set reads, read with the set itself.
    QString prefetchedField;
};

// The open record set: a position in the keyset and the current record's pending changes (an addition, values
// written, text typed into bound controls), stored when the set next moves, is refreshed or closes.
class Cursor
{
public:
    Cursor() = default;
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    SourceSettings& settings() { return m_settings; }
    const SourceSettings& settings() const { return m_settings; }

    void refresh();
    void close();
    bool isOpen() const { return m_open; }
    void updateControls();

    void addNew();
    void deleteCurrent();
    void moveToEnd(bool last);
    void moveNext();
    PackedTexts walkInListOrder(int field);
    qint64 recordCount() const;
    Bookmark bookmark() const;
    void setBookmark(Bookmark bookmark);
    int fieldIndex(const QString& name) const { return m_rows.fieldIndex(name); }
    FieldValue value(int field);
    void setValue(int field, const FieldValue& value);
    void update();
    void update(const std::vector<std::pair<QString, FieldValue>>& writes);

    bool isAdding() const { return m_adding; }
    bool hasCurrentRecord() const { return m_open && (m_adding || currentKey().has_value()); }
    bool eof() const;

    void bind(QObject* control, const QString& field, TextGetter text, TextSetter setText);
    void noteEdited() { m_bound.noteEdited(); }
    void freezeDisplay() { ++m_freezeDepth; }
    void thawDisplay();

private:
    void requireOpen() const;
    std::optional<qint64> currentKey() const;
    // The current record's key; with none, says whether it was deleted.
    qint64 currentKeyOrThrow() const;
    void openFileIfNeeded();
    void reopenIfReadOnly();
    FieldValue storedValue(int field);
    PackedTexts everyValueInListOrder(int field);
    bool hasPendingChanges() const;
    void storePending();
    void writeRow(const FieldValues& values);
    bool noteWrite(qint64 changesBefore);
    void dropPending();
    void moveTo(qint64 position);
    void showCurrent() noexcept;

    SourceSettings m_settings;
    StoreFile m_file; // before the statements, so it is closed after them
    TableRows m_rows;
    Keyset m_keyset;
    BoundFields m_bound;

    bool m_open = false;
    qint64 m_position = 0;         // in the keyset; its size is past the end
    bool m_currentDeleted = false; // m_position then names the record after the deleted one
    bool m_adding = false;
    FieldValues m_written;
    quint64 m_writes = 0; // by this store, so a refresh after one reads the set again
    int m_freezeDepth = 0;
    // The record the bound controls show (none: blank); typed text only ever goes to that record.
    std::optional<qint64> m_shownKey;
    bool m_showingNew = false;
};

} // namespace kestrella
