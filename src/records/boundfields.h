#pragma once

#include "records/fieldvalue.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <utility>
#include <vector>

namespace kestrella {

// The controls that show the current record's fields, each through a text getter and setter. A control's text
// that differs from what the store last put there was typed (or set by the program): a change of the record.
class BoundFields
{
public:
    // The getter and setter are used only while control exists.
    void add(QObject* control, const QString& field, TextGetter text, TextSetter setText);
    bool empty() const { return m_bindings.empty(); }
    QStringList fields() const;

    // Puts one text per binding, in binding order, into the controls.
    void show(const std::vector<QString>& texts);
    // A control's text changed; the store's own showing does not count.
    void noteEdited();
    bool edited() const;
    // Field name and text of every control whose text differs from what was shown.
    std::vector<std::pair<QString, QString>> editedTexts() const;
    void forgetEdits() { m_edited = false; }

private:
    struct Binding
    {
        QPointer<QObject> control;
        QString field;
        TextGetter text;
        TextSetter setText;
        QString shown; // the text the store last put there, as the control holds it
    };

    std::vector<Binding> m_bindings;
    bool m_showing = false;
    bool m_edited = false;
};

} // namespace kestrella
