#include "records/packedtexts.h"

#include "records/sqlite.h"

#include <algorithm>

namespace kestrella {
namespace {

// A list this long is read at once and filled into large pages; shorter ones would waste most of a page.
constexpr qsizetype ArenaFrom = qsizetype(1) << 16;

} // namespace

PackedTexts::PackedTexts(int blockBits)
    : m_starts(std::clamp(blockBits, 0, 24))
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

QByteArrayView PackedTexts::utf8At(qsizetype i) const
{
    const BlockStarts::Place place = m_starts.placeOf(i);
    return m_blocks[place.block].at(place.offset);
}

QString PackedTexts::at(qsizetype i) const
{
    const QByteArrayView text = utf8At(i);
    return textFromStore(text.data(), text.size());
}

void PackedTexts::reserve(qsizetype count, qsizetype bytes)
{
    m_blocks.reserve(size_t(count / m_starts.blockSize()) + 1);
    m_starts.reserve(m_blocks.capacity());
    m_bytesPerTextHint = count > 0 ? bytes / count + 1 : 0;
    m_arenaFromTheStart = count >= ArenaFrom;
}

// A block that grows as it fills moves its bytes at each step and leaves freed pages behind; at a million names that
// churn cost more than reading them. Without a hint, a block is sized after the one before, with room to spare.
void PackedTexts::startBlock()
{
    qsizetype expectedBytes = m_bytesPerTextHint * m_starts.blockSize();
    if (!m_blocks.empty()) {
        QByteArray& full = m_blocks.back().bytes;
        if (expectedBytes == 0)
            expectedBytes = full.size() + full.size() / 8;
        full.squeeze(); // what its growth left spare goes back
    }
    Block& block = m_blocks.emplace_back();
    if (m_size >= ArenaFrom || m_arenaFromTheStart) {
        if (m_arenas.empty())
            m_arenas.push_back(std::make_shared<TextArena>());
        block.filledInArena = true;
        const size_t room = size_t(m_starts.blockSize());
        block.ends = LentValues<quint32>(m_arenas.back()->take(room), 0, room);
    } else {
        block.bytes.reserve(expectedBytes);
        block.ends.reserve(size_t(m_starts.blockSize()));
    }
    m_starts.append(m_size);
}

PackedTexts::Block& PackedTexts::blockWithRoom()
{
    if (m_blocks.empty() || qsizetype(m_blocks.back().ends.size()) >= m_starts.blockSize())
        startBlock();
    return m_blocks.back();
}

void PackedTexts::appendBytes(Block& block, QByteArrayView utf8)
{
    if (block.filledInArena)
        block.bytes = m_arenas.back()->extend(block.bytes, utf8);
    else
        block.bytes.append(utf8);
}

void PackedTexts::append(QByteArrayView utf8)
{
    Block& block = blockWithRoom();
    appendBytes(block, utf8);
    block.ends.push_back(quint32(block.bytes.size()));
    ++m_size;
    m_byteSize += utf8.size();
}

// Neighbouring texts of a block are neighbouring bytes: they are copied as many at once as the block here has room for.
void PackedTexts::appendRange(const PackedTexts& source, qsizetype from, qsizetype to)
{
    while (from < to) {
        Block& block = blockWithRoom();
        const BlockStarts::Place place = source.m_starts.placeOf(from);
        const Block& sourceBlock = source.m_blocks[place.block];
        const qsizetype count = std::min({to - from, m_starts.blockSize() - qsizetype(block.ends.size()),
                                          qsizetype(sourceBlock.ends.size()) - place.offset});
        const quint32 begin = sourceBlock.begin(place.offset);
        const quint32 end = sourceBlock.ends[size_t(place.offset + count - 1)];
        const quint32 shift = quint32(block.bytes.size()) - begin; // wraps, and wraps back when added
        appendBytes(block, QByteArrayView(sourceBlock.bytes.constData() + begin, end - begin));
        for (qsizetype k = place.offset; k < place.offset + count; ++k)
            block.ends.push_back(sourceBlock.ends[size_t(k)] + shift);
        m_size += count;
        m_byteSize += end - begin;
        from += count;
    }
}

void PackedTexts::appendAll(PackedTexts&& other)
{
    for (Block& block : other.m_blocks) {
        m_starts.append(m_size);
        m_size += qsizetype(block.ends.size());
        m_blocks.push_back(std::move(block));
    }
    m_byteSize += other.m_byteSize;
    // The last block may go on filling its arena: that arena stays last.
    m_arenas.insert(m_arenas.end(), other.m_arenas.begin(), other.m_arenas.end());
    other = PackedTexts(other.m_starts.blockBits());
}

PackedTexts::Walk::Walk(const PackedTexts& texts, qsizetype from)
    : m_texts(texts)
{
    if (from < texts.size()) {
        const BlockStarts::Place place = texts.m_starts.placeOf(from);
        m_block = place.block;
        m_offset = place.offset;
    }
}

QByteArrayView PackedTexts::Walk::next()
{
    if (m_offset == qsizetype(m_texts.m_blocks[m_block].ends.size())) {
        ++m_block;
        m_offset = 0;
    }
    return m_texts.m_blocks[m_block].at(m_offset++);
}

void PackedTexts::insert(qsizetype i, QByteArrayView utf8)
{
    if (i == m_size) {
        append(utf8);
        return;
    }
    const BlockStarts::Place place = m_starts.placeOf(i);
    Block& block = m_blocks[place.block];
    const quint32 from = block.begin(place.offset);
    block.bytes.insert(from, utf8);
    block.filledInArena = false;
    std::vector<quint32>& ends = block.ends.changeable();
    ends.insert(ends.begin() + place.offset, from);
    for (size_t k = size_t(place.offset); k < ends.size(); ++k)
        ends[k] += quint32(utf8.size());
    m_starts.shiftAfter(place.block, 1);
    ++m_size;
    m_byteSize += utf8.size();
    splitIfOverfull(place.block);
}

void PackedTexts::splitIfOverfull(size_t b)
{
    const size_t half = size_t(m_starts.blockSize());
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
    first.ends.changeable().resize(half);
    m_starts.insert(b + 1, m_starts.first(b) + qsizetype(half));
    m_blocks.insert(m_blocks.begin() + qsizetype(b) + 1, std::move(second));
}

void PackedTexts::remove(qsizetype i)
{
    const BlockStarts::Place place = m_starts.placeOf(i);
    Block& block = m_blocks[place.block];
    const quint32 from = block.begin(place.offset);
    const quint32 length = block.ends[size_t(place.offset)] - from;
    block.bytes.remove(from, length);
    block.filledInArena = false;
    std::vector<quint32>& ends = block.ends.changeable();
    ends.erase(ends.begin() + place.offset);
    for (size_t k = size_t(place.offset); k < ends.size(); ++k)
        ends[k] -= length;
    m_starts.shiftAfter(place.block, -1);
    if (block.ends.empty()) {
        m_blocks.erase(m_blocks.begin() + qsizetype(place.block));
        m_starts.erase(place.block);
    }
    --m_size;
    m_byteSize -= length;
}

} // namespace kestrella
