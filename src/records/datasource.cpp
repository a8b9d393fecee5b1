#include "records/datasource.h"

#include "records/cursor.h"
#include "records/program.h"

namespace kestrella {

FieldValue Field::value() const
{
    return m_cursor->value(m_index);
}

void Field::setValue(const FieldValue& value)
{
    m_cursor->setValue(m_index, value);
}

void Recordset::addNew()
{
    m_cursor.addNew();
}

void Recordset::deleteCurrent()
{
    m_cursor.deleteCurrent();
}

void Recordset::moveFirst()
{
    m_cursor.moveToEnd(false);
}

void Recordset::moveLast()
{
    m_cursor.moveToEnd(true);
}

void Recordset::moveNext()
{
    m_cursor.moveNext();
}

PackedTexts Recordset::walkInListOrder(const QString& field)
{
    return m_cursor.walkInListOrder(m_cursor.fieldIndex(field));
}

qint64 Recordset::recordCount() const
{
    return m_cursor.recordCount();
}

Bookmark Recordset::bookmark() const
{
    return m_cursor.bookmark();
}

void Recordset::setBookmark(Bookmark bookmark)
{
    m_cursor.setBookmark(bookmark);
}

Field Recordset::fields(const QString& name)
{
    return Field(m_cursor, m_cursor.fieldIndex(name));
}

void Recordset::update()
{
    m_cursor.update();
}

void Recordset::update(const std::vector<std::pair<QString, FieldValue>>& writes)
{
    m_cursor.update(writes);
}

bool Recordset::isAdding() const
{
    return m_cursor.isAdding();
}

bool Recordset::hasCurrentRecord() const
{
    return m_cursor.hasCurrentRecord();
}

bool Recordset::eof() const
{
    return m_cursor.eof();
}

DataSource::DataSource(QObject* parent)
    : QObject(parent)
    , m_cursor(std::make_unique<Cursor>())
    , m_recordset(*m_cursor)
{
    m_cursor->settings().recordSource = ProgramsTable;
}

DataSource::~DataSource() = default;

QString DataSource::databaseName() const
{
    return m_cursor->settings().databaseName;
}

void DataSource::setDatabaseName(const QString& path)
{
    m_cursor->settings().databaseName = path;
}

QString DataSource::recordSource() const
{
    return m_cursor->settings().recordSource;
}

void DataSource::setRecordSource(const QString& source)
{
    m_cursor->settings().recordSource = source;
}

void DataSource::setCreateIfMissing(bool create)
{
    m_cursor->settings().createIfMissing = create;
}

void DataSource::setPrefetchedField(const QString& field)
{
    m_cursor->settings().prefetchedField = field;
}

void DataSource::refresh()
{
    m_cursor->refresh();
}

void DataSource::updateControls()
{
    m_cursor->updateControls();
}

void DataSource::close()
{
    m_cursor->close();
}

bool DataSource::isOpen() const
{
    return m_cursor->isOpen();
}

void DataSource::bind(QObject* control, const QString& field, TextGetter text, TextSetter setText)
{
    m_cursor->bind(control, field, std::move(text), std::move(setText));
}

void DataSource::controlEdited()
{
    m_cursor->noteEdited();
}

DataSource::DisplayFreeze::DisplayFreeze(DataSource& source)
    : m_cursor(*source.m_cursor)
{
    m_cursor.freezeDisplay();
}

DataSource::DisplayFreeze::~DisplayFreeze()
{
    m_cursor.thawDisplay();
}

} // namespace kestrella
