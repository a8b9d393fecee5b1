#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <vector>

namespace kestrella {

// Memory for the few buffers a large set fills at once. Where the kernel makes 2 MiB pages on request (transparent
// huge pages in "madvise" mode), a buffer filled for the first time costs one fault per 2 MiB instead of one per
// 4 KiB; on a virtual machine, faulting in a million names' buffers took longer than reading the names.
// Smaller requests go to the heap as usual.
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* memory, std::size_t bytes);

template <typename T>
struct LargePageAllocator
{
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U>&) // NOLINT: allocators convert implicitly
    {
    }
    T* allocate(std::size_t n) { return static_cast<T*>(allocateLarge(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { releaseLarge(p, n * sizeof(T)); }
    friend bool operator==(const LargePageAllocator&, const LargePageAllocator&) { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

// Texts appended one after another into large chunks, each handed back as a view that grows with the next text.
// A view is read-only: a QByteArray made from it copies itself out before any change.
class TextArena
{
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;
    ~TextArena();

    // `view` (empty, or the last view this arena gave) with `text` after it.
    QByteArray extend(const QByteArray& view, QByteArrayView text);
    // Room for `count` numbers, before whatever comes next.
    quint32* take(std::size_t count);

private:
    struct Chunk
    {
        char* data;
        std::size_t size;
    };
    void startChunk(std::size_t atLeast);

    std::vector<Chunk> m_chunks;
    char* m_fill = nullptr;
    char* m_end = nullptr;
};

} // namespace kestrella
