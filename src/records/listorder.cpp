#include "records/listorder.h"

#include "records/packedtexts.h"
#include "records/sqlite.h"

#include <algorithm>
#include <future>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace kestrella {
namespace {

constexpr char16_t FirstPrintable = 0x20;
constexpr char16_t LastPrintable = 0x7e;
constexpr int Undecided = 2;
// A list shorter than this is merged on one core: a thread would cost more than it saves.
constexpr qsizetype SecondCoreFrom = qsizetype(1) << 16;

QLocale collationLocale(const QLocale& locale)
{
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

// Printable ASCII in the order of the Unicode root collation, which English keeps as it is; each capital lists alike
// with its small letter.
constexpr QLatin1String RootAsciiOrder(" _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$0123456789abcdefghijklmnopqrstuvwxyz");

int sign(int value)
{
    return (value > 0) - (value < 0);
}

// A text of at most two printable ASCII characters.
struct ShortText
{
    char16_t units[2] = {};
    qsizetype size = 0;
    QStringView view() const { return {units, size}; }
};

} // namespace

ListCollation::ListCollation(const QLocale& locale)
    : m_locale(locale)
{
    if (collationLocale(locale).language() == QLocale::English)
        rankRootAscii();
    else
        rankAscii();
}

QCollator ListCollation::madeCollator() const
{
    QCollator collator(collationLocale(m_locale));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// A thread that helps order a long list compares with a collator of its own: a collator is not shared between
// threads. Such a thread lives for one list, and so does its collator.
const QCollator& ListCollation::collator() const
{
    if (std::this_thread::get_id() != m_madeOn) {
        thread_local std::optional<QCollator> own;
        thread_local const ListCollation* ownedFor = nullptr;
        if (ownedFor != this) {
            own.emplace(madeCollator());
            ownedFor = this;
        }
        return *own;
    }
    if (!m_collator)
        m_collator.emplace(madeCollator());
    return *m_collator;
}

const ListCollation& ListCollation::current()
{
    static std::optional<ListCollation> current;
    const QLocale locale;
    if (!current || current->locale() != locale)
        current.emplace(locale);
    return *current;
}

// English keeps the root order, so a list of plain ASCII names in English never needs the collator.
void ListCollation::rankRootAscii()
{
    for (qsizetype i = 0; i < RootAsciiOrder.size(); ++i) {
        const char c = RootAsciiOrder[i].toLatin1();
        m_rank[uchar(c)] = quint8(i + 1);
        if (c >= 'a' && c <= 'z')
            m_rank[uchar(c - 'a' + 'A')] = quint8(i + 1);
    }
    m_ranksAscii = true;
}

// Most names are plain ASCII, and most comparisons are settled by the first character that differs. Ranking the
// printable characters once by the collator itself spares it those comparisons. The ranks are used only where they
// give the collator's own answer: a locale may join letters ("aa" in Danish, "ch" in Czech) or tell two apart by
// less than a letter ("y" and "i" in Lithuanian), and then the collator decides everything.
void ListCollation::rankAscii()
{
    std::vector<char16_t> printable;
    for (char16_t c = FirstPrintable; c <= LastPrintable; ++c)
        printable.push_back(c);
    const auto one = [](const char16_t& c) {
        return QStringView(&c, 1);
    };
    std::sort(printable.begin(), printable.end(),
              [&](char16_t a, char16_t b) { return collator().compare(one(a), one(b)) < 0; });
    std::vector<std::vector<char16_t>> ranked;
    for (char16_t c : printable) {
        if (ranked.empty() || collator().compare(one(ranked.back().front()), one(c)) != 0)
            ranked.emplace_back();
        ranked.back().push_back(c);
        m_rank[c] = quint8(ranked.size());
    }
    m_ranksAscii = ranksAgreeWithCollator(ranked);
    if (!m_ranksAscii)
        m_rank = {};
}

// Every text of up to two printable characters, in rank order: the collator must order each neighbouring pair the
// same way. A joined pair or a letter told apart by less than a letter shows here.
bool ListCollation::ranksAgreeWithCollator(const std::vector<std::vector<char16_t>>& ranked) const
{
    std::vector<ShortText> texts{ShortText{}};
    for (const auto& firsts : ranked) {
        for (char16_t first : firsts)
            texts.push_back({{first, 0}, 1});
        for (const auto& seconds : ranked) {
            for (char16_t first : firsts) {
                for (char16_t second : seconds)
                    texts.push_back({{first, second}, 2});
            }
        }
    }
    for (size_t i = 1; i < texts.size(); ++i) {
        const ShortText& a = texts[i - 1];
        const ShortText& b = texts[i];
        if (sign(collator().compare(a.view(), b.view())) != compareByRanks(a.units, a.size, b.units, b.size))
            return false;
    }
    return true;
}

// The ranks' answer, or Undecided. Up to the first character that differs both texts are printable ASCII, so a
// contraction could only begin at that character. It cannot when the character after it is printable too (or the
// text ends there): the collator's contractions of plain ASCII are ruled out above, and a combining mark or other
// letter that might join it is not ASCII.
template <typename Unit>
int ListCollation::compareByRanks(const Unit* a, qsizetype aSize, const Unit* b, qsizetype bSize) const
{
    const auto rank = [this](Unit unit) {
        return unit < 128 ? int(m_rank[unit]) : 0;
    };
    const auto settled = [&](const Unit* text, qsizetype size, qsizetype i) {
        return i + 1 == size || rank(text[i + 1]) != 0;
    };
    const qsizetype common = std::min(aSize, bSize);
    for (qsizetype i = 0; i < common; ++i) {
        const int rankA = rank(a[i]);
        const int rankB = rank(b[i]);
        if (rankA == 0 || rankB == 0)
            return Undecided;
        if (rankA != rankB) {
            if (!settled(a, aSize, i) || !settled(b, bSize, i))
                return Undecided;
            return rankA < rankB ? -1 : 1;
        }
    }
    if (aSize == bSize)
        return 0;
    // One begins the other: the longer lists after it if what follows is printable (never ignored).
    const Unit* longer = aSize > bSize ? a : b;
    const qsizetype longerSize = std::max(aSize, bSize);
    if (rank(longer[common]) == 0 || !settled(longer, longerSize, common))
        return Undecided;
    return aSize < bSize ? -1 : 1;
}

int ListCollation::compare(QStringView a, QStringView b) const
{
    const int byRanks = compareByRanks(a.utf16(), a.size(), b.utf16(), b.size());
    return byRanks != Undecided ? byRanks : collator().compare(a, b);
}

int ListCollation::compareUtf8(QByteArrayView a, QByteArrayView b) const
{
    if (a == b)
        return 0;
    const auto* unitsA = reinterpret_cast<const uchar*>(a.data());
    const auto* unitsB = reinterpret_cast<const uchar*>(b.data());
    const int byRanks = compareByRanks(unitsA, a.size(), unitsB, b.size());
    if (byRanks != Undecided)
        return byRanks;
    thread_local QVarLengthArray<QChar, 256> left;
    thread_local QVarLengthArray<QChar, 256> right;
    return collator().compare(textFromStore(a, left), textFromStore(b, right));
}

bool listsBefore(QByteArrayView a, QByteArrayView b)
{
    return ListCollation::current().compareUtf8(a, b) < 0;
}

namespace {

struct ListOrder
{
    const PackedTexts& texts;
    const LargeVector<qint64>& tieBreaks;
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

// Sorts runs that already stand in order by merging them, two at a time: a few runs cost a few comparisons a text.
template <typename T, typename Less>
void mergeRuns(LargeVector<T>& items, Less less)
{
    std::vector<size_t> bounds{0};
    for (size_t i = 1; i < items.size(); ++i) {
        if (less(items[i], items[i - 1]))
            bounds.push_back(i);
    }
    bounds.push_back(items.size());
    if (bounds.size() <= 2)
        return;
    LargeVector<T> into(items.size());
    while (bounds.size() > 2) {
        std::vector<size_t> merged{0};
        for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
            const size_t middle = bounds[k + 1];
            const size_t end = k + 2 < bounds.size() ? bounds[k + 2] : middle; // an odd run out waits as it is
            std::merge(items.begin() + qsizetype(bounds[k]), items.begin() + qsizetype(middle),
                       items.begin() + qsizetype(middle), items.begin() + qsizetype(end),
                       into.begin() + qsizetype(bounds[k]), less);
            merged.push_back(end);
        }
        items.swap(into);
        bounds = std::move(merged);
    }
}

// Texts set aside come in pairs: a text that stood last in its run, and the text after it that belongs before it.
// The first of each pair leave their run from its end backwards, the others come in the order read: reversed and
// taken apart, each kind stands mostly in order already. Each is decoded for the collator once, all into one buffer.
void sortAside(LargeVector<qsizetype>& aside, const ListOrder& order)
{
    LargeVector<qsizetype> byKind;
    byKind.reserve(aside.size());
    for (size_t i = aside.size(); i >= 2; i -= 2)
        byKind.push_back(aside[i - 2]);
    for (size_t i = 1; i < aside.size(); i += 2)
        byKind.push_back(aside[i]);
    aside = std::move(byKind);

    struct Decoded
    {
        qsizetype from;
        qsizetype size;
        qsizetype index;
    };
    LargeVector<Decoded> decoded;
    decoded.reserve(aside.size());
    qsizetype bytes = 0; // no fewer than the UTF-16 units they decode to
    for (qsizetype index : aside)
        bytes += order.texts.utf8At(index).size();
    LargeVector<QChar> units;
    units.reserve(size_t(bytes));
    QVarLengthArray<QChar, 256> buffer;
    for (qsizetype index : aside) {
        const QStringView text = textFromStore(order.texts.utf8At(index), buffer);
        decoded.push_back({qsizetype(units.size()), text.size(), index});
        units.insert(units.end(), text.begin(), text.end());
    }
    const auto view = [&](const Decoded& d) {
        return QStringView(units.data() + d.from, d.size);
    };
    mergeRuns(decoded, [&](const Decoded& a, const Decoded& b) {
        return order.precedes(order.collation.compare(view(a), view(b)), a.index, b.index);
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
PackedTexts merged(const PackedTexts& texts, LargeVector<Run> runs, std::span<const qsizetype> aside,
                   const ListOrder& order)
{
    PackedTexts merged;
    merged.reserve(texts.size(), texts.byteSize());
    const auto append = [&](qsizetype from, qsizetype to) {
        merged.appendRange(texts, from, to);
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

// Texts [from, to) that stand in list order, in runs, and those set aside: each text out of order together with the
// one it fell behind.
struct Checked
{
    LargeVector<Run> runs;
    LargeVector<qsizetype> aside;
};

Checked checked(const ListOrder& order, qsizetype from, qsizetype to)
{
    Checked result;
    LargeVector<Run>& runs = result.runs;
    PackedTexts::Walk walk(order.texts, from);
    QByteArrayView last; // of the last run
    for (qsizetype i = from; i < to; ++i) {
        const QByteArrayView text = walk.next();
        if (runs.empty() || order.precedes(order.collation.compareUtf8(last, text), runs.back().to - 1, i)) {
            if (runs.empty() || runs.back().to != i)
                runs.push_back({i, i});
            runs.back().to = i + 1;
            last = text;
        } else {
            result.aside.push_back(runs.back().to - 1);
            result.aside.push_back(i);
            if (--runs.back().to == runs.back().from)
                runs.pop_back();
            if (!runs.empty())
                last = order.texts.utf8At(runs.back().to - 1);
        }
    }
    return result;
}

// The texts after `first`, checked on their own: where the two meet out of order, the pair is set aside.
void join(Checked& first, Checked second, const ListOrder& order)
{
    auto next = second.runs.begin();
    while (!first.runs.empty() && next != second.runs.end() && !order(first.runs.back().to - 1, next->from)) {
        first.aside.push_back(first.runs.back().to - 1);
        first.aside.push_back(next->from);
        if (--first.runs.back().to == first.runs.back().from)
            first.runs.pop_back();
        if (++next->from == next->to)
            ++next;
    }
    first.runs.insert(first.runs.end(), next, second.runs.end());
    first.aside.insert(first.aside.end(), second.aside.begin(), second.aside.end());
}

// A long list is merged in two halves at once, each on a core of its own: the texts set aside part where the middle
// one of them goes among the runs.
PackedTexts mergedInTwo(const PackedTexts& texts, const LargeVector<Run>& runs, const LargeVector<qsizetype>& aside,
                        const ListOrder& order)
{
    const std::span<const qsizetype> all(aside);
    const size_t middle = all.size() / 2;
    const qsizetype text = all[middle];
    const auto run =
        std::partition_point(runs.begin(), runs.end(), [&](const Run& r) { return order(r.to - 1, text); });
    LargeVector<Run> before(runs.begin(), run);
    LargeVector<Run> after(run, runs.end());
    if (!after.empty()) {
        const qsizetype place = placeAmong(text, after.front().from, after.front().to, order);
        if (place > after.front().from)
            before.push_back({after.front().from, place});
        after.front().from = place;
    }
    auto secondHalf = std::async(std::launch::async, [&] { return merged(texts, after, all.subspan(middle), order); });
    PackedTexts list = merged(texts, std::move(before), all.first(middle), order);
    list.appendAll(secondHalf.get());
    return list;
}

} // namespace

// The store reads names in an order close to the list's (its index folds ASCII case only). One pass keeps the
// texts that stand in order and sets aside each text out of order together with the one it fell behind (at most
// twice as many as need moving); only those few are sorted and then placed among the rest. In order, a text costs
// one comparison and no memory.
PackedTexts inListOrder(PackedTexts texts, const LargeVector<qint64>& tieBreaks)
{
    const ListOrder order{texts, tieBreaks, ListCollation::current()};
    Checked all;
    if (texts.size() >= SecondCoreFrom) {
        const qsizetype middle = texts.size() / 2;
        auto secondHalf = std::async(std::launch::async, [&] { return checked(order, middle, texts.size()); });
        all = checked(order, 0, middle);
        join(all, secondHalf.get(), order);
    } else {
        all = checked(order, 0, texts.size());
    }
    if (all.aside.empty())
        return texts;
    sortAside(all.aside, order);
    if (texts.size() >= SecondCoreFrom)
        return mergedInTwo(texts, all.runs, all.aside, order);
    return merged(texts, std::move(all.runs), all.aside, order);
}

} // namespace kestrella
