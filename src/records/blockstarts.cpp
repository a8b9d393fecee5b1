#include "records/blockstarts.h"

#include <algorithm>

namespace kestrella {

BlockStarts::Place BlockStarts::placeOf(qsizetype i) const
{
    if (m_blocksFull)
        return {size_t(i >> m_blockBits), i & (blockSize() - 1)};
    const size_t block = size_t(std::upper_bound(m_firsts.begin(), m_firsts.end(), i) - m_firsts.begin()) - 1;
    return {block, i - m_firsts[block]};
}

void BlockStarts::clear()
{
    m_firsts.clear();
    m_blocksFull = true;
}

void BlockStarts::append(qsizetype first)
{
    m_blocksFull = m_blocksFull && first == qsizetype(m_firsts.size()) << m_blockBits;
    m_firsts.push_back(first);
}

void BlockStarts::shiftAfter(size_t block, qsizetype by)
{
    for (size_t b = block + 1; b < m_firsts.size(); ++b)
        m_firsts[b] += by;
    m_blocksFull = false;
}

void BlockStarts::insert(size_t block, qsizetype first)
{
    m_firsts.insert(m_firsts.begin() + qsizetype(block), first);
    m_blocksFull = false;
}

void BlockStarts::erase(size_t block)
{
    m_firsts.erase(m_firsts.begin() + qsizetype(block));
    m_blocksFull = false;
}

} // namespace kestrella
