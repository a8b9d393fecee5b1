#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <vector>

namespace kestrella {

// Many short texts in one buffer, as the store keeps them (UTF-8). A hundred thousand names held as
// separate strings cost three times the memory and one allocation each; here they cost two.
class PackedTexts
{
public:
    qsizetype size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    qsizetype byteSize() const { return m_bytes.size(); }
    QByteArrayView utf8At(qsizetype i) const;
    QString at(qsizetype i) const;

    void reserve(qsizetype count, qsizetype bytes);
    void append(QByteArrayView utf8);
    void insert(qsizetype i, QByteArrayView utf8);
    void remove(qsizetype i);

private:
    qsizetype begin(qsizetype i) const { return i == 0 ? 0 : m_ends[i - 1]; }

    // Qt's containers grow by reallocation, which moves a large buffer's pages instead of copying its bytes.
    QByteArray m_bytes;
    QList<qsizetype> m_ends;
};

// listsBefore for texts as the store keeps them.
bool listsBeforeUtf8(QByteArrayView a, QByteArrayView b);

// The texts in list order, equal texts in order of their tie-breaks (one per text; none: the order they came in).
// Texts that come in order are only checked.
PackedTexts inListOrder(PackedTexts texts, const std::vector<qint64>& tieBreaks = {});

} // namespace kestrella
