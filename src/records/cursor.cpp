#include "records/cursor.h"

#include "records/listorder.h"
#include "records/sqlite.h"

namespace kestrella {

Cursor::~Cursor()
{
    try {
        close();
    } catch (const std::exception&) {
        // Nothing can be reported from here; callers that care close explicitly first.
    }
}

void Cursor::requireOpen() const
{
    if (!m_open)
        throw StoreError::notOpen();
}

std::optional<qint64> Cursor::currentKey() const
{
    if (!m_open || m_adding || m_currentDeleted || m_position >= m_keyset.size())
        return std::nullopt;
    return m_keyset.keyAt(m_position);
}

qint64 Cursor::currentKeyOrThrow() const
{
    if (const auto key = currentKey())
        return *key;
    throw m_currentDeleted ? StoreError::recordDeleted() : StoreError::noCurrentRecord();
}

// ---- The file and the set ----------------------------------------------------------------------

void Cursor::openFileIfNeeded()
{
    if (m_file.isOpenOn(m_settings.databaseName))
        return;
    m_open = false;
    m_rows.reset();
    m_keyset.clear();
    m_file.open(m_settings.databaseName, m_settings.createIfMissing);
}

void Cursor::refresh()
{
    storePending();
    openFileIfNeeded();
    const RecordSourceQuery query(m_settings.recordSource);
    m_rows.prepare(m_file.db(), query.table());
    const int field =
        m_settings.prefetchedField.isEmpty() ? -1 : int(m_rows.fields().indexOf(m_settings.prefetchedField));
    const KeysetQuery keyset = query.keyset(field < 0 ? QString() : m_rows.fields().at(field), field);
    // Reading the set again when nothing can have changed it (same statement, no write here or by anyone else since
    // that the set did not follow) would only cost a walk over the whole file.
    const qint64 version = m_file.dataVersion();
    if (!m_open || m_keyset.isStale(keyset.statement, version, m_writes))
        m_keyset.read(m_file.db(), keyset);
    m_keyset.markCurrent(version, m_writes);
    m_open = true;
    m_position = 0;
    m_currentDeleted = false;
    m_adding = false;
    m_written.clear();
    m_rows.forget();
    showCurrent();
}

void Cursor::close()
{
    if (!m_open)
        return;
    storePending();
    m_open = false;
    m_keyset.clear();
    m_rows.reset();
    m_file.close();
}

void Cursor::reopenIfReadOnly()
{
    if (!m_file.reopenIfReadOnly())
        return;
    const QString table = m_rows.table();
    m_rows.reset();
    m_rows.prepare(m_file.db(), table);
    m_keyset.forgetDataVersion();
}

// ---- Moves -------------------------------------------------------------------------------------

void Cursor::moveToEnd(bool last)
{
    requireOpen();
    storePending();
    if (m_keyset.size() == 0)
        throw StoreError::noCurrentRecord();
    moveTo(last ? m_keyset.size() - 1 : 0);
}

void Cursor::moveNext()
{
    requireOpen();
    storePending();
    if (m_currentDeleted) {
        moveTo(m_position);
        return;
    }
    if (m_position >= m_keyset.size())
        throw StoreError::noCurrentRecord();
    moveTo(m_position + 1);
}

void Cursor::moveTo(qint64 position)
{
    storePending();
    m_position = position;
    m_currentDeleted = false;
    showCurrent();
}

PackedTexts Cursor::walkInListOrder(int field)
{
    requireOpen();
    storePending();
    PackedTexts values;
    if (m_keyset.readsColumnOf(field)) {
        // The values went to an earlier walk or a write: one more read of the set costs a pass over an index, where
        // reading each record would cost a look-up apiece.
        if (!m_keyset.holdsColumnOf(field)) {
            m_keyset.readAgain(m_file.db());
            m_keyset.markCurrent(m_file.dataVersion(), m_writes);
        }
        values = m_keyset.takeColumnInListOrder();
    } else {
        values = everyValueInListOrder(field);
    }
    moveTo(m_keyset.size());
    return values;
}

// A field the set was not read with: each record is read, as a walk reads it.
PackedTexts Cursor::everyValueInListOrder(int field)
{
    PackedTexts values;
    for (qint64 position = 0; position < m_keyset.size(); ++position) {
        if (const auto* row = m_rows.row(m_keyset.keyAt(position)); row && (*row)[size_t(field)])
            values.append((*row)[size_t(field)]->toUtf8());
    }
    return inListOrder(std::move(values));
}

qint64 Cursor::recordCount() const
{
    requireOpen();
    return m_keyset.size();
}

Bookmark Cursor::bookmark() const
{
    requireOpen();
    const auto key = currentKey();
    if (!key)
        throw StoreError::noCurrentRecord();
    return *key;
}

void Cursor::setBookmark(Bookmark bookmark)
{
    requireOpen();
    storePending();
    const auto position = m_keyset.positionOf(bookmark);
    if (!position)
        throw StoreError(SQLITE_NOTFOUND, QStringLiteral("Not a valid bookmark."));
    moveTo(*position);
}

bool Cursor::eof() const
{
    return m_open && !m_adding && !m_currentDeleted && m_position >= m_keyset.size();
}

// ---- Values and pending changes ------------------------------------------------------------------

FieldValue Cursor::storedValue(int field)
{
    if (m_adding)
        return std::nullopt;
    const qint64 key = currentKeyOrThrow();
    if (!m_rows.holds(key) && m_keyset.holdsColumnOf(field))
        return m_keyset.columnValueAt(m_position);
    const auto* row = m_rows.row(key);
    if (!row)
        throw StoreError::recordDeleted();
    return (*row)[size_t(field)];
}

FieldValue Cursor::value(int field)
{
    requireOpen();
    if (const auto it = m_written.find(field); it != m_written.end()) {
        if (m_adding || currentKey())
            return it->second;
    }
    return storedValue(field);
}

void Cursor::setValue(int field, const FieldValue& value)
{
    requireOpen();
    if (!m_adding)
        currentKeyOrThrow();
    m_written[field] = value;
}

void Cursor::addNew()
{
    requireOpen();
    reopenIfReadOnly();
    storePending();
    m_adding = true;
    m_written.clear();
    showCurrent();
}

void Cursor::deleteCurrent()
{
    requireOpen();
    if (m_adding) {
        dropPending();
        showCurrent();
        return;
    }
    const qint64 key = currentKeyOrThrow();
    reopenIfReadOnly();
    const qint64 changesBefore = sqlite3_total_changes64(m_file.db());
    m_rows.remove(key);
    const bool recordAlone = noteWrite(changesBefore);
    m_keyset.removeAt(m_position, m_writes, recordAlone);
    m_currentDeleted = true;
    m_written.clear();
    showCurrent();
}

void Cursor::update()
{
    requireOpen();
    storePending();
}

void Cursor::update(const std::vector<std::pair<QString, FieldValue>>& writes)
{
    requireOpen();
    const FieldValues pendingBefore = m_written;
    try {
        for (const auto& [name, value] : writes)
            setValue(fieldIndex(name), value);
        storePending();
    } catch (...) {
        m_written = pendingBefore;
        throw;
    }
}

void Cursor::updateControls()
{
    m_written.clear();
    m_bound.forgetEdits();
    showCurrent();
}

bool Cursor::hasPendingChanges() const
{
    return m_adding || !m_written.empty() || m_bound.edited();
}

void Cursor::storePending()
{
    if (!m_open || !hasPendingChanges()) {
        m_bound.forgetEdits();
        return;
    }
    FieldValues values = m_written;
    // Typed text belongs to the record the controls show, and wins over values the program wrote.
    const bool editsBelongHere = m_adding ? m_showingNew : (m_shownKey && m_shownKey == currentKey());
    if (editsBelongHere) {
        for (const auto& [field, text] : m_bound.editedTexts())
            values[fieldIndex(field)] = text;
    }
    if (!m_adding && !currentKey()) {
        dropPending();
        return;
    }
    writeRow(values);
    dropPending();
    showCurrent();
}

void Cursor::writeRow(const FieldValues& values)
{
    reopenIfReadOnly();
    sqlite3* db = m_file.db();
    const qint64 changesBefore = sqlite3_total_changes64(db);
    std::optional<qint64> insertedKey;
    execute(db, "BEGIN IMMEDIATE");
    try {
        if (m_adding)
            insertedKey = m_rows.insert(values);
        else
            m_rows.update(*currentKey(), values);
        execute(db, "COMMIT");
    } catch (...) {
        if (sqlite3_get_autocommit(db) == 0)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    const bool recordAlone = noteWrite(changesBefore);
    if (!insertedKey) {
        m_keyset.noteChanged(m_writes, recordAlone);
        return;
    }
    m_keyset.append(*insertedKey, m_writes, recordAlone);
    m_adding = false;
    m_position = m_keyset.size() - 1;
    m_currentDeleted = false;
}

// Values change or positions shift: what was read ahead is read afresh (the keyset lets go of its column as it
// follows the write). True when the write changed its own record alone, no trigger of the file's more.
bool Cursor::noteWrite(qint64 changesBefore)
{
    ++m_writes;
    m_rows.forget();
    return sqlite3_total_changes64(m_file.db()) - changesBefore == 1;
}

void Cursor::dropPending()
{
    m_adding = false;
    m_written.clear();
    m_bound.forgetEdits();
}

// ---- Bound controls ------------------------------------------------------------------------------

void Cursor::bind(QObject* control, const QString& field, TextGetter text, TextSetter setText)
{
    m_bound.add(control, field, std::move(text), std::move(setText));
}

void Cursor::thawDisplay()
{
    if (--m_freezeDepth == 0)
        showCurrent();
}

void Cursor::showCurrent() noexcept
{
    if (m_freezeDepth > 0 || m_bound.empty())
        return;
    const QStringList fields = m_bound.fields();
    std::vector<QString> texts(size_t(fields.size()));
    std::optional<qint64> shownKey = currentKey();
    if (shownKey) {
        try {
            m_rows.row(*shownKey); // every control shows the row as read now
            for (size_t i = 0; i < texts.size(); ++i)
                texts[i] = storedValue(fieldIndex(fields[qsizetype(i)])).value_or(QString());
        } catch (const std::exception&) {
            texts.assign(texts.size(), QString());
            shownKey.reset();
        }
    }
    m_bound.show(texts);
    m_shownKey = shownKey;
    m_showingNew = m_adding;
}

} // namespace kestrella
