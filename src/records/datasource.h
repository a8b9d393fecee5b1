#pragma once

#include "records/fieldvalue.h"
#include "records/packedtexts.h"
#include "records/storeerror.h"

#include <QObject>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

namespace kestrella {

class Cursor;

// One field of the current record, read and written by name.
class Field
{
public:
    Field(Cursor& cursor, int index)
        : m_cursor(&cursor)
        , m_index(index)
    {
    }
    FieldValue value() const;
    void setValue(const FieldValue& value);

private:
    Cursor* m_cursor;
    int m_index;
};

// The data source's open record set: a keyset of rowids in the record source's order, a current
// position, and the current record's pending changes.
class Recordset
{
public:
    explicit Recordset(Cursor& cursor)
        : m_cursor(cursor)
    {
    }

    void addNew();
    // Removes the current record from the table at once (a pending addition is simply dropped).
    void deleteCurrent();
    void moveFirst();
    void moveLast();
    void moveNext();
    // A walk over every record reading one field, in one call: the field's values (no-value entries left out) in
    // list order (see inListOrder). The set is then where a walk leaves it, past its last record.
    PackedTexts walkInListOrder(const QString& field);
    qint64 recordCount() const;
    Bookmark bookmark() const;
    void setBookmark(Bookmark bookmark);
    Field fields(const QString& name);
    // Stores the current record's pending changes now, in one transaction.
    void update();
    // The same, with these values written into their fields first. They go into the table only with this store:
    // when it fails they are withdrawn, and what was pending before stays as it was.
    void update(const std::vector<std::pair<QString, FieldValue>>& writes);

    bool isAdding() const;
    bool hasCurrentRecord() const;
    bool eof() const;

private:
    Cursor& m_cursor;
};

// Plays the part of a window's data source: a database file, a record source, one open record set
// and the controls bound to its fields. Pending changes are stored when the record set next moves,
// is refreshed or closes. Failures raise StoreError.
class DataSource : public QObject
{
    Q_OBJECT

public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;

    QString databaseName() const;
    void setDatabaseName(const QString& path);
    QString recordSource() const;
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

    // Shows a field in a control through its text getter and setter, while the control exists. The control's
    // own change signal must reach controlEdited, so that what is typed there is stored.
    void bind(QObject* control, const QString& field, TextGetter text, TextSetter setText);
    void controlEdited();

    // While frozen, moves do not repaint the bound fields; they catch up when the last freeze ends.
    class DisplayFreeze
    {
    public:
        explicit DisplayFreeze(DataSource& source);
        ~DisplayFreeze();
        DisplayFreeze(const DisplayFreeze&) = delete;
        DisplayFreeze& operator=(const DisplayFreeze&) = delete;

    private:
        Cursor& m_cursor;
    };

    // Whether a missing or zero-byte file is made into a new, empty database (the first run) or refused.
    void setCreateIfMissing(bool create);

    // The field a walk over the whole set reads (the list's names): it is read with the set itself, so
    // the walk costs no second pass over the file.
    void setPrefetchedField(const QString& field);

private:
    std::unique_ptr<Cursor> m_cursor;
    Recordset m_recordset;
};

} // namespace kestrella
