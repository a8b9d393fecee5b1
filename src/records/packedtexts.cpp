#include "records/packedtexts.h"

#include "records/program.h"
#include "records/sqlite.h"

#include <algorithm>
#include <numeric>

namespace kestrella {

QByteArrayView PackedTexts::utf8At(qsizetype i) const
{
    const qsizetype from = begin(i);
    return {m_bytes.constData() + from, m_ends[i] - from};
}

QString PackedTexts::at(qsizetype i) const
{
    const QByteArrayView text = utf8At(i);
    return textFromStore(text.data(), text.size());
}

void PackedTexts::reserve(qsizetype count, qsizetype bytes)
{
    m_ends.reserve(count);
    m_bytes.reserve(bytes);
}

void PackedTexts::append(QByteArrayView utf8)
{
    m_bytes.append(utf8);
    m_ends.append(m_bytes.size());
}

void PackedTexts::insert(qsizetype i, QByteArrayView utf8)
{
    const qsizetype from = begin(i);
    m_bytes.insert(from, utf8);
    m_ends.insert(i, from);
    for (qsizetype k = i; k < m_ends.size(); ++k)
        m_ends[k] += utf8.size();
}

void PackedTexts::remove(qsizetype i)
{
    const qsizetype from = begin(i);
    const qsizetype length = m_ends[i] - from;
    m_bytes.remove(from, length);
    m_ends.remove(i);
    for (qsizetype k = i; k < m_ends.size(); ++k)
        m_ends[k] -= length;
}

bool listsBeforeUtf8(QByteArrayView a, QByteArrayView b)
{
    // In ASCII a byte is a character and folds the same way; anything else is compared as the list shows it.
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        auto ca = uchar(a[i]);
        auto cb = uchar(b[i]);
        if (ca >= 0x80 || cb >= 0x80)
            return listsBefore(textFromStore(a.data(), a.size()), textFromStore(b.data(), b.size()));
        if (ca != cb) {
            ca = ca >= 'A' && ca <= 'Z' ? uchar(ca + 32) : ca;
            cb = cb >= 'A' && cb <= 'Z' ? uchar(cb + 32) : cb;
            if (ca != cb)
                return ca < cb;
        }
    }
    return a.size() < b.size();
}

namespace {

struct ListOrder
{
    const PackedTexts& texts;
    const std::vector<qint64>& tieBreaks;

    qint64 tieBreak(qsizetype i) const { return tieBreaks.empty() ? i : tieBreaks[size_t(i)]; }
    bool operator()(qsizetype a, qsizetype b) const
    {
        if (listsBeforeUtf8(texts.utf8At(a), texts.utf8At(b)))
            return true;
        return !listsBeforeUtf8(texts.utf8At(b), texts.utf8At(a)) && tieBreak(a) < tieBreak(b);
    }
};

} // namespace

PackedTexts inListOrder(PackedTexts texts, const std::vector<qint64>& tieBreaks)
{
    const ListOrder before{texts, tieBreaks};
    qsizetype i = 1;
    while (i < texts.size() && before(i - 1, i))
        ++i;
    if (i >= texts.size())
        return texts;
    std::vector<qsizetype> order(size_t(texts.size()));
    std::iota(order.begin(), order.end(), qsizetype(0));
    std::sort(order.begin(), order.end(), before);
    PackedTexts sorted;
    sorted.reserve(texts.size(), texts.byteSize());
    for (qsizetype k : order)
        sorted.append(texts.utf8At(k));
    return sorted;
}

} // namespace kestrella
