#include "records/largepages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace kestrella {
namespace {

constexpr std::size_t HugePage = std::size_t(2) << 20;
// Below this a buffer would waste most of its huge page.
constexpr std::size_t LargeFrom = std::size_t(1) << 20;
constexpr std::size_t ArenaChunk = std::size_t(16) << 20;

std::size_t roundedUp(std::size_t bytes)
{
    return (bytes + HugePage - 1) / HugePage * HugePage;
}

} // namespace

void* allocateLarge(std::size_t bytes)
{
    if (bytes < LargeFrom)
        return ::operator new(bytes);
    const std::size_t size = roundedUp(bytes);
    // Mapped with a huge page's room to spare, then trimmed to a huge page's boundary: only aligned 2 MiB can be one.
    void* mapped = mmap(nullptr, size + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    auto* base = static_cast<char*>(mapped);
    auto* aligned = reinterpret_cast<char*>(roundedUp(reinterpret_cast<std::uintptr_t>(base)));
    if (aligned != base)
        munmap(base, std::size_t(aligned - base));
    if (const std::size_t tail = std::size_t(base + size + HugePage - (aligned + size)); tail > 0)
        munmap(aligned + size, tail);
    madvise(aligned, size, MADV_HUGEPAGE); // a hint: without it the pages are small, nothing else changes
    return aligned;
}

void releaseLarge(void* memory, std::size_t bytes)
{
    if (bytes < LargeFrom)
        ::operator delete(memory);
    else
        munmap(memory, roundedUp(bytes));
}

TextArena::~TextArena()
{
    for (const Chunk& chunk : m_chunks)
        releaseLarge(chunk.data, chunk.size);
}

void TextArena::startChunk(std::size_t atLeast)
{
    const std::size_t size = std::max(ArenaChunk, roundedUp(atLeast));
    m_chunks.push_back({static_cast<char*>(allocateLarge(size)), size});
    m_fill = m_chunks.back().data;
    m_end = m_fill + size;
}

quint32* TextArena::take(std::size_t count)
{
    const std::size_t bytes = count * sizeof(quint32);
    auto* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(m_fill) + 3) & ~std::uintptr_t(3));
    if (m_chunks.empty() || std::size_t(m_end - aligned) < bytes) {
        startChunk(bytes);
        aligned = m_fill;
    }
    m_fill = aligned + bytes;
    return reinterpret_cast<quint32*>(aligned);
}

QByteArray TextArena::extend(const QByteArray& view, QByteArrayView text)
{
    const std::size_t viewSize = std::size_t(view.size());
    const std::size_t needed = viewSize + std::size_t(text.size());
    const bool continuesFill = viewSize == 0 || view.constData() + viewSize == m_fill;
    if (m_chunks.empty() || !continuesFill || std::size_t(m_end - m_fill) < std::size_t(text.size())) {
        startChunk(needed);
        std::memcpy(m_fill, view.constData(), viewSize);
        m_fill += viewSize;
    }
    char* const begin = m_fill - viewSize;
    std::memcpy(m_fill, text.data(), std::size_t(text.size()));
    m_fill += text.size();
    return QByteArray::fromRawData(begin, qsizetype(needed));
}

} // namespace kestrella
