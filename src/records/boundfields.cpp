#include "records/boundfields.h"

namespace kestrella {

void BoundFields::add(QObject* control, const QString& field, TextGetter text, TextSetter setText)
{
    QString shown = text();
    m_bindings.push_back({control, field, std::move(text), std::move(setText), std::move(shown)});
}

QStringList BoundFields::fields() const
{
    QStringList fields;
    for (const Binding& b : m_bindings)
        fields << b.field;
    return fields;
}

void BoundFields::show(const std::vector<QString>& texts)
{
    m_showing = true;
    for (size_t i = 0; i < m_bindings.size(); ++i) {
        Binding& b = m_bindings[i];
        if (!b.control)
            continue;
        if (b.text() != texts[i])
            b.setText(texts[i]);
        b.shown = b.text(); // a control may hold line breaks otherwise than they were given
    }
    m_showing = false;
    m_edited = false;
}

void BoundFields::noteEdited()
{
    if (!m_showing)
        m_edited = true;
}

bool BoundFields::edited() const
{
    return m_edited && !editedTexts().empty();
}

std::vector<std::pair<QString, QString>> BoundFields::editedTexts() const
{
    std::vector<std::pair<QString, QString>> edited;
    for (const Binding& b : m_bindings) {
        if (b.control && b.text() != b.shown)
            edited.emplace_back(b.field, b.text());
    }
    return edited;
}

} // namespace kestrella
