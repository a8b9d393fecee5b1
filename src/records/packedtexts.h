#pragma once

#include "records/blockstarts.h"
#include "records/largepages.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

namespace kestrella {

// Many short texts, as the store keeps them (UTF-8), in blocks of a few thousand: a hundred thousand names held as
// separate strings cost three times the memory and one allocation each, and an insertion or a removal moves only
// the bytes of its own block.
class PackedTexts
{
public:
    static constexpr int DefaultBlockBits = 12; // 4,096 texts a block, about 100 kB of names

    // Blocks of 2^blockBits texts as they are first appended; an insertion into a full block splits it.
    PackedTexts()
        : PackedTexts(DefaultBlockBits)
    {
    }
    explicit PackedTexts(int blockBits);

    qsizetype size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    qsizetype byteSize() const { return m_byteSize; }
    QByteArrayView utf8At(qsizetype i) const;
    QString at(qsizetype i) const;

    // About how many texts will come, and how many bytes they take (0: not known).
    void reserve(qsizetype count, qsizetype bytes);
    void append(QByteArrayView utf8);
    // Texts [from, to) of another.
    void appendRange(const PackedTexts& source, qsizetype from, qsizetype to);
    // Every text of another, whose blocks this one takes over as they are.
    void appendAll(PackedTexts&& other);

    // Texts one after another from the first, without finding each one's block.
    class Walk
    {
    public:
        explicit Walk(const PackedTexts& texts, qsizetype from = 0);
        QByteArrayView next();

    private:
        const PackedTexts& m_texts;
        size_t m_block = 0;
        qsizetype m_offset = 0;
    };
    void insert(qsizetype i, QByteArrayView utf8);
    void remove(qsizetype i);

private:
    struct Block
    {
        QByteArray bytes;         // a view of the arena while appends fill it; its own copy once it changes
        LentValues<quint32> ends; // where each text ends in `bytes`, in the arena beside them likewise
        bool filledInArena = false;
        quint32 begin(qsizetype k) const;
        QByteArrayView at(qsizetype k) const;
    };
    void startBlock();
    Block& blockWithRoom();
    void appendBytes(Block& block, QByteArrayView utf8);
    void splitIfOverfull(size_t block);

    BlockStarts m_starts;
    qsizetype m_bytesPerTextHint = 0;
    bool m_arenaFromTheStart = false; // a large list was announced
    qsizetype m_size = 0;
    qsizetype m_byteSize = 0;
    std::vector<Block> m_blocks;
    // For the blocks of a large list, filled at once; the last is filled now, the others came with appendAll.
    std::vector<std::shared_ptr<TextArena>> m_arenas;
};

} // namespace kestrella
