#pragma once

#include "records/largepages.h"

#include <QByteArrayView>
#include <QCollator>
#include <QLocale>
#include <QStringView>
#include <array>
#include <optional>
#include <thread>
#include <vector>

namespace kestrella {

// The program list's order: the collation of the user's language without regard to case, as their file manager
// sorts names ("Émile" with E; "Ärzte" with A in German, after Z in Swedish). The C locale collates as American
// English, so the list never falls back to code points.
class ListCollation
{
public:
    explicit ListCollation(const QLocale& locale);

    // The collation of the default locale (the system's unless something set another), made again when it changes.
    // Made on the window thread; threads that help it order a long list compare with collators of their own.
    static const ListCollation& current();

    const QLocale& locale() const { return m_locale; }
    // Below zero when a lists before b, zero when the two list alike.
    int compare(QStringView a, QStringView b) const;
    // The same order for texts as the store keeps them (UTF-8).
    int compareUtf8(QByteArrayView a, QByteArrayView b) const;

private:
    const QCollator& collator() const;
    QCollator madeCollator() const;
    void rankRootAscii();
    void rankAscii();
    bool ranksAgreeWithCollator(const std::vector<std::vector<char16_t>>& ranked) const;
    template <typename Unit>
    int compareByRanks(const Unit* a, qsizetype aSize, const Unit* b, qsizetype bSize) const;

    QLocale m_locale;
    // Made when a comparison first needs it: the collator brings in about 2 MB of code and data, which a list of
    // plain ASCII names in English never uses.
    mutable std::optional<QCollator> m_collator;
    std::thread::id m_madeOn = std::this_thread::get_id();
    // Printable ASCII characters' places in the collation (equal for characters that list alike); 0 for the rest.
    std::array<quint8, 128> m_rank{};
    bool m_ranksAscii = false;
};

class PackedTexts;

// The one order of the program list, for names as the store keeps them (UTF-8), in the default locale's collation.
// Names that list alike are equal to it: Save's insertion puts a new name after its equals (an upper bound), where a
// rebuild of the list, which keeps the store's order among equals, puts the record stored last.
bool listsBefore(QByteArrayView a, QByteArrayView b);

// The texts in list order, equal texts in order of their tie-breaks (one per text; none: the order they came in).
// Texts that come in order are only checked.
PackedTexts inListOrder(PackedTexts texts, const LargeVector<qint64>& tieBreaks = {});

} // namespace kestrella
