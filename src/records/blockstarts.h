#pragma once

#include <QtGlobal>
#include <vector>

namespace kestrella {

// Where the entries of a sequence kept in blocks lie: the index of each block's first entry. While every block but
// the last holds exactly 2^blockBits entries, as appending alone leaves them, an entry's block follows from its index.
class BlockStarts
{
public:
    struct Place
    {
        size_t block;
        qsizetype offset;
    };

    explicit BlockStarts(int blockBits)
        : m_blockBits(blockBits)
    {
    }
    int blockBits() const { return m_blockBits; }
    qsizetype blockSize() const { return qsizetype(1) << m_blockBits; }
    Place placeOf(qsizetype i) const;
    qsizetype first(size_t block) const { return m_firsts[block]; }
    void reserve(size_t blocks) { m_firsts.reserve(blocks); }
    void clear();

    void append(qsizetype first);
    // Entries went into a block (by > 0) or out of it: the blocks after it start that much later.
    void shiftAfter(size_t block, qsizetype by);
    void insert(size_t block, qsizetype first);
    void erase(size_t block);

private:
    int m_blockBits;
    std::vector<qsizetype> m_firsts;
    bool m_blocksFull = true;
};

} // namespace kestrella
