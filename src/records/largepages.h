#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <utility>
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

// A block's values in memory a larger buffer lends it, until they first change: then in a vector of their own. Values
// appended go into the lent room while there is some. A copy has values of its own, so that no two fill one room.
template <typename T>
class LentValues
{
public:
    LentValues() = default;
    LentValues(T* lent, std::size_t count, std::size_t room)
        : m_lent(lent)
        , m_count(count)
        , m_room(room)
    {
    }
    LentValues(const LentValues& other)
        : m_own(other.begin(), other.end())
    {
    }
    LentValues(LentValues&& other) noexcept
        : m_lent(std::exchange(other.m_lent, nullptr))
        , m_count(std::exchange(other.m_count, 0))
        , m_room(std::exchange(other.m_room, 0))
        , m_own(std::move(other.m_own))
    {
    }
    LentValues& operator=(LentValues other) noexcept
    {
        std::swap(m_lent, other.m_lent);
        std::swap(m_count, other.m_count);
        std::swap(m_room, other.m_room);
        std::swap(m_own, other.m_own);
        return *this;
    }

    const T* begin() const { return m_lent ? m_lent : m_own.data(); }
    const T* end() const { return begin() + size(); }
    std::size_t size() const { return m_lent ? m_count : m_own.size(); }
    bool empty() const { return size() == 0; }
    const T& operator[](std::size_t k) const { return begin()[k]; }
    const T& front() const { return *begin(); }
    const T& back() const { return end()[-1]; }
    void reserve(std::size_t count) { m_own.reserve(count); }
    void push_back(T value)
    {
        if (m_lent && m_count < m_room)
            m_lent[m_count++] = value;
        else
            changeable().push_back(value);
    }
    std::vector<T>& changeable()
    {
        if (m_lent) {
            m_own.assign(m_lent, m_lent + m_count);
            m_lent = nullptr;
            m_count = m_room = 0;
        }
        return m_own;
    }

private:
    T* m_lent = nullptr;
    std::size_t m_count = 0;
    std::size_t m_room = 0;
    std::vector<T> m_own;
};

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
