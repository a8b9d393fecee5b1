#include "records/packedtexts.h"

#include "records/sqlite.h"

#include <algorithm>

namespace kestrella {

PackedTexts::PackedTexts(int blockBits)
    : m_blockBits(std::clamp(blockBits, 0, 24))
{
}

quint32 PackedTexts::Block::begin(qsizetype k) const
{
    return k == 0 ? 0 : ends[size_t(k) - 1];
}

QByteArrayView PackedTexts::Block::at(qsizetype k) const
{
    const quint32 from = begin(k);
    return {bytes.constData() + from, qsizetype(ends[size_t(k)] - from)};
}

PackedTexts::Place PackedTexts::placeOf(qsizetype i) const
{
    if (m_blocksFull)
        return {size_t(i >> m_blockBits), i & ((qsizetype(1) << m_blockBits) - 1)};
    const size_t block = size_t(std::upper_bound(m_firsts.begin(), m_firsts.end(), i) - m_firsts.begin()) - 1;
    return {block, i - m_firsts[block]};
}

QByteArrayView PackedTexts::utf8At(qsizetype i) const
{
    const Place place = placeOf(i);
    return m_blocks[place.block].at(place.offset);
}

QString PackedTexts::at(qsizetype i) const
{
    const QByteArrayView text = utf8At(i);
    return textFromStore(text.data(), text.size());
}

void PackedTexts::reserve(qsizetype count, qsizetype bytes)
{
    m_blocks.reserve(size_t(count >> m_blockBits) + 1);
    m_firsts.reserve(m_blocks.capacity());
    m_bytesPerTextHint = count > 0 ? bytes / count + 1 : 0;
}

void PackedTexts::startBlock()
{
    if (!m_blocks.empty())
        m_blocks.back().bytes.squeeze(); // full: what its growth left spare goes back
    Block& block = m_blocks.emplace_back();
    block.bytes.reserve(m_bytesPerTextHint << m_blockBits);
    block.ends.reserve(size_t(1) << m_blockBits);
    m_firsts.push_back(m_size);
}

void PackedTexts::append(QByteArrayView utf8)
{
    if (m_blocks.empty() || qsizetype(m_blocks.back().ends.size()) >= (qsizetype(1) << m_blockBits))
        startBlock();
    Block& block = m_blocks.back();
    block.bytes.append(utf8);
    block.ends.push_back(quint32(block.bytes.size()));
    ++m_size;
    m_byteSize += utf8.size();
}

void PackedTexts::insert(qsizetype i, QByteArrayView utf8)
{
    if (i == m_size) {
        append(utf8);
        return;
    }
    const Place place = placeOf(i);
    Block& block = m_blocks[place.block];
    const quint32 from = block.begin(place.offset);
    block.bytes.insert(from, utf8);
    block.ends.insert(block.ends.begin() + place.offset, from);
    for (size_t k = size_t(place.offset); k < block.ends.size(); ++k)
        block.ends[k] += quint32(utf8.size());
    for (size_t b = place.block + 1; b < m_firsts.size(); ++b)
        ++m_firsts[b];
    ++m_size;
    m_byteSize += utf8.size();
    m_blocksFull = false;
    splitIfOverfull(place.block);
}

void PackedTexts::splitIfOverfull(size_t b)
{
    const size_t half = size_t(1) << m_blockBits;
    if (m_blocks[b].ends.size() < 2 * half)
        return;
    Block second;
    {
        const Block& first = m_blocks[b];
        const quint32 cut = first.ends[half - 1];
        second.bytes = first.bytes.sliced(cut);
        second.ends.reserve(first.ends.size() - half);
        for (size_t k = half; k < first.ends.size(); ++k)
            second.ends.push_back(first.ends[k] - cut);
    }
    Block& first = m_blocks[b];
    first.bytes.truncate(first.ends[half - 1]);
    first.bytes.squeeze();
    first.ends.resize(half);
    m_firsts.insert(m_firsts.begin() + qsizetype(b) + 1, m_firsts[b] + qsizetype(half));
    m_blocks.insert(m_blocks.begin() + qsizetype(b) + 1, std::move(second));
}

void PackedTexts::remove(qsizetype i)
{
    const Place place = placeOf(i);
    Block& block = m_blocks[place.block];
    const quint32 from = block.begin(place.offset);
    const quint32 length = block.ends[size_t(place.offset)] - from;
    block.bytes.remove(from, length);
    block.ends.erase(block.ends.begin() + place.offset);
    for (size_t k = size_t(place.offset); k < block.ends.size(); ++k)
        block.ends[k] -= length;
    for (size_t b = place.block + 1; b < m_firsts.size(); ++b)
        --m_firsts[b];
    if (block.ends.empty()) {
        m_blocks.erase(m_blocks.begin() + qsizetype(place.block));
        m_firsts.erase(m_firsts.begin() + qsizetype(place.block));
    }
    --m_size;
    m_byteSize -= length;
    m_blocksFull = false;
}

} // namespace kestrella
