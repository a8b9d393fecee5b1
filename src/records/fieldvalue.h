#pragma once

#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace kestrella {

// A field's value: no value (SQL NULL) is kept apart from empty text.
using FieldValue = std::optional<QString>;
// A record's rowid: it names the record for as long as the record exists.
using Bookmark = qint64;
// Values by field index.
using FieldValues = std::map<int, FieldValue>;

// How the store reads and fills a control bound to a field.
using TextGetter = std::function<QString()>;
using TextSetter = std::function<void(const QString&)>;

} // namespace kestrella
