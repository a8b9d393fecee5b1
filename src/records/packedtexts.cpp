#include "records/packedtexts.h"

#include "records/listorder.h"
#include "records/sqlite.h"

#include <algorithm>

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
    return ListCollation::current().compareUtf8(a, b) < 0;
}

namespace {

struct ListOrder
{
    const PackedTexts& texts;
    const std::vector<qint64>& tieBreaks;
    const ListCollation& collation;

    qint64 tieBreak(qsizetype i) const { return tieBreaks.empty() ? i : tieBreaks[size_t(i)]; }
    // Equal texts keep the order of their tie-breaks.
    bool precedes(int textOrder, qsizetype a, qsizetype b) const
    {
        return textOrder < 0 || (textOrder == 0 && tieBreak(a) < tieBreak(b));
    }
    bool operator()(qsizetype a, qsizetype b) const
    {
        return precedes(collation.compareUtf8(texts.utf8At(a), texts.utf8At(b)), a, b);
    }
};

// The first of [from, to) that does not list before `text`, found by steps that double from `from`, so a place near
// it costs few comparisons.
qsizetype placeAmong(qsizetype text, qsizetype from, qsizetype to, const ListOrder& order)
{
    qsizetype low = from;
    qsizetype high = from;
    for (qsizetype step = 1; high < to && order(high, text); step *= 2) {
        low = high + 1;
        high = from + step;
    }
    high = std::min(high, to);
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (order(middle, text))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Texts set aside are compared many times over, so each is made a string for the collator once.
void sortAside(std::vector<qsizetype>& aside, const ListOrder& order)
{
    struct Decoded
    {
        QString text;
        qsizetype index;
    };
    std::vector<Decoded> decoded;
    decoded.reserve(aside.size());
    for (qsizetype index : aside)
        decoded.push_back({order.texts.at(index), index});
    std::sort(decoded.begin(), decoded.end(), [&](const Decoded& a, const Decoded& b) {
        return order.precedes(order.collation.compare(a.text, b.text), a.index, b.index);
    });
    for (size_t i = 0; i < aside.size(); ++i)
        aside[i] = decoded[i].index;
}

// Neighbours as read, texts [from, to), that stand in list order.
struct Run
{
    qsizetype from;
    qsizetype to;
};

// The runs and the sorted texts set aside, merged.
PackedTexts merged(const PackedTexts& texts, std::vector<Run> runs, const std::vector<qsizetype>& aside,
                   const ListOrder& order)
{
    PackedTexts merged;
    merged.reserve(texts.size(), texts.byteSize());
    const auto append = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            merged.append(texts.utf8At(i));
    };
    size_t run = 0;
    for (qsizetype text : aside) {
        for (; run < runs.size() && order(runs[run].to - 1, text); ++run)
            append(runs[run].from, runs[run].to);
        if (run < runs.size()) {
            const qsizetype place = placeAmong(text, runs[run].from, runs[run].to, order);
            append(runs[run].from, place);
            runs[run].from = place;
        }
        merged.append(texts.utf8At(text));
    }
    for (; run < runs.size(); ++run)
        append(runs[run].from, runs[run].to);
    return merged;
}

} // namespace

// The store reads names in an order close to the list's (its index folds ASCII case only). One pass keeps the
// texts that stand in order and sets aside each text out of order together with the one it fell behind (at most
// twice as many as need moving); only those few are sorted and then placed among the rest. In order, a text costs
// one comparison and no memory.
PackedTexts inListOrder(PackedTexts texts, const std::vector<qint64>& tieBreaks)
{
    const ListOrder order{texts, tieBreaks, ListCollation::current()};
    std::vector<Run> runs;
    std::vector<qsizetype> aside;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (runs.empty() || order(runs.back().to - 1, i)) {
            if (runs.empty() || runs.back().to != i)
                runs.push_back({i, i});
            runs.back().to = i + 1;
        } else {
            aside.push_back(runs.back().to - 1);
            aside.push_back(i);
            if (--runs.back().to == runs.back().from)
                runs.pop_back();
        }
    }
    if (aside.empty())
        return texts;
    sortAside(aside, order);
    return merged(texts, std::move(runs), aside, order);
}

} // namespace kestrella
