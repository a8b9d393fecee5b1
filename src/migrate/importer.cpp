// kestrella-import: reads the Programs table of an Access (Jet) database with libmdb and writes it to
// standard output in the form importwire.h describes. libmdb is not safe on malformed files, so this
// runs as a process of its own under a time and a memory limit: if it crashes, only it goes down.

// glib.h first: mdbtools.h includes it inside extern "C", where its C++ parts cannot be declared.
#include "migrate/importwire.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <mdbtools.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace wire = kestrella::importwire;

constexpr int OffsetMask = 0x1fff;             // a row's offset within its page, without the flag bits
constexpr guint32 MemoLengthMask = 0x3fffffff; // a memo's stored length, without its inline/one-page flags

// Everything goes out through one buffer; the parent reads as it comes, so it is flushed now and then.
class Output
{
public:
    ~Output() { flush(); }

    void raw(const char* bytes, size_t size)
    {
        if (size >= BufferSize) { // a long memo goes straight out rather than through another copy
            flush();
            writeAll(bytes, size);
            return;
        }
        m_buffer.append(bytes, size);
        if (m_buffer.size() >= BufferSize)
            flush();
    }
    void raw(const std::string& text) { raw(text.data(), text.size()); }

    void flush()
    {
        writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }

private:
    static constexpr size_t BufferSize = 64 * 1024;

    static void writeAll(const char* p, size_t left)
    {
        while (left > 0) {
            const ssize_t n = ::write(STDOUT_FILENO, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ::_exit(70); // the reader has gone; nothing more to do
            p += n;
            left -= size_t(n);
        }
    }

    std::string m_buffer;
};

std::string tagged(char tag, unsigned long long number, char end)
{
    return std::string(1, tag) + std::to_string(number) + end;
}

int fail(Output& out, wire::Failure failure, int detail = 0)
{
    out.raw(std::string(1, wire::FailureTag) + std::to_string(int(failure)) + ',' + std::to_string(detail) + '\n');
    out.flush();
    return 2;
}

MdbColumn* column(MdbTableDef* table, unsigned int index)
{
    return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, index));
}

// libmdb cuts converted text at its bind size (16 KiB unless raised). The size is raised for each value
// to what that value can possibly need: a stored byte becomes at most three bytes of UTF-8.
size_t bindSizeFor(MdbHandle* mdb, const MdbColumn* col, const MdbField& field)
{
    constexpr size_t Floor = 3 * MDB_PGSIZE + 16; // a memo kept on one page of its own
    size_t stored = size_t(std::max(field.siz, 0));
    if (col->col_type == MDB_MEMO && field.siz >= MDB_MEMO_OVERHEAD)
        stored = std::max(stored, size_t(guint32(mdb_get_int32(mdb->pg_buf, field.start)) & MemoLengthMask));
    return std::max(Floor, 3 * stored + 16);
}

// libmdb passes on whatever it found of a memo whose pieces do not add up to the length the memo
// records (a broken page chain, a piece too long): such a memo would arrive cut short without a word.
bool memoIsWhole(MdbHandle* mdb, const MdbField& field)
{
    if (field.siz < MDB_MEMO_OVERHEAD)
        return field.siz == 0;
    const auto header = guint32(mdb_get_int32(mdb->pg_buf, field.start));
    const guint32 length = header & MemoLengthMask;
    if (header & 0x80000000u) // kept in the row itself
        return length == guint32(field.siz - MDB_MEMO_OVERHEAD);
    if ((header & 0xff000000u) != 0 && !(header & 0x40000000u))
        return false; // a kind libmdb does not read: it gives empty text
    auto pgRow = gint32(mdb_get_int32(mdb->pg_buf, field.start + 4));
    void* page = nullptr;
    int start = 0;
    size_t size = 0;
    if (header & 0x40000000u) // on one page of its own
        return mdb_find_pg_row(mdb, pgRow, &page, &start, &size) == 0 && size == length;
    size_t found = 0;
    while (pgRow != 0) {
        if (mdb_find_pg_row(mdb, pgRow, &page, &start, &size) != 0 || size < 4)
            return false;
        found += size - 4;
        if (found > length)
            return false;
        pgRow = gint32(mdb_get_int32(page, start));
    }
    return found == length;
}

bool addValue(std::string& row, MdbHandle* mdb, const MdbColumn* col, const MdbField& field)
{
    if (field.is_null) {
        row += wire::NullTag;
        return true;
    }
    if (col->col_type == MDB_DATETIME) {
        if (field.siz != 8)
            return false;
        char number[64];
        const int n = std::snprintf(number, sizeof number, "%.17g", mdb_get_double(mdb->pg_buf, field.start));
        if (n <= 0 || size_t(n) >= sizeof number)
            return false;
        row += tagged(wire::DateTag, unsigned(n), ':');
        row.append(number, size_t(n));
        return true;
    }
    if (col->col_type == MDB_MEMO && !memoIsWhole(mdb, field))
        return false;
    const size_t bindSize = bindSizeFor(mdb, col, field);
    mdb_set_bind_size(mdb, bindSize);
    char* text = mdb_col_to_string(mdb, mdb->pg_buf, field.start, col->col_type, field.siz);
    if (!text)
        return false;
    const size_t length = std::strlen(text);
    // A value that fills the buffer may have been cut: never pass on part of a value as the whole.
    const bool whole = length + 1 < bindSize && length <= wire::MaxFieldBytes;
    if (whole) {
        row += tagged(wire::TextTag, length, ':');
        row.append(text, length);
    }
    g_free(text);
    return whole;
}

// Jet 4 and later store text as UTF-16; libmdb converts it as UCS-2, which turns every character
// outside the Basic Multilingual Plane into "??". Converting from UTF-16 keeps them.
void readTextAsUtf16(MdbHandle* mdb)
{
    if (mdb->f->jet_version == MDB_VER_JET3)
        return;
    iconv_t utf16 = iconv_open("UTF-8", "UTF-16LE");
    if (utf16 == iconv_t(-1))
        return;
    if (mdb->iconv_in != iconv_t(-1))
        iconv_close(mdb->iconv_in);
    mdb->iconv_in = utf16;
}

int run(const char* path, Output& out)
{
    out.raw(wire::Magic, sizeof wire::Magic - 1);

    MdbHandle* mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        return fail(out, wire::Failure::NotAccessFile);
    readTextAsUtf16(mdb);

    if (!mdb_read_catalog(mdb, MDB_TABLE))
        return fail(out, wire::Failure::Damaged);
    MdbCatalogEntry* entry = nullptr;
    for (unsigned int i = 0; i < mdb->num_catalog && !entry; ++i) {
        auto* candidate = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        // Access names are not case-sensitive.
        if (candidate->object_type == MDB_TABLE && g_ascii_strcasecmp(candidate->object_name, "Programs") == 0)
            entry = candidate;
    }
    if (!entry)
        return fail(out, wire::Failure::NoProgramsTable);

    MdbTableDef* table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        return fail(out, wire::Failure::Damaged);

    // The ten fields by name; any further columns are left behind.
    int columnOf[wire::FieldCount];
    for (int f = 0; f < wire::FieldCount; ++f) {
        columnOf[f] = -1;
        for (unsigned int c = 0; c < table->num_cols && columnOf[f] < 0; ++c) {
            if (g_ascii_strcasecmp(column(table, c)->name, wire::FieldNames[f]) == 0)
                columnOf[f] = int(c);
        }
        if (columnOf[f] < 0)
            return fail(out, wire::Failure::MissingField, f);
        const int type = column(table, unsigned(columnOf[f]))->col_type;
        const bool text = type == MDB_TEXT || type == MDB_MEMO;
        const bool date = type == MDB_DATETIME && f == wire::LastLoginField;
        if (!text && !date)
            return fail(out, wire::Failure::UnsupportedType, f);
    }

    out.raw(tagged(wire::TotalTag, table->num_rows, '\n'));
    std::vector<MdbField> fields(table->num_cols);
    unsigned long long sent = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        // The fetch leaves its page loaded: crack the row again to learn which fields hold no value,
        // which libmdb's bound buffers cannot tell from empty text.
        int start = 0;
        size_t size = 0;
        if (table->cur_row == 0 || mdb_find_row(mdb, int(table->cur_row) - 1, &start, &size) != 0)
            return fail(out, wire::Failure::Damaged);
        const int cracked = mdb_crack_row(table, start & OffsetMask, size, fields.data());
        if (cracked < 0 || unsigned(cracked) > table->num_cols)
            return fail(out, wire::Failure::Damaged);

        // A row goes out whole or not at all, so a failure never lands in the middle of one.
        std::string row(1, wire::RowTag);
        for (int f = 0; f < wire::FieldCount; ++f) {
            const MdbField* field = nullptr;
            for (int i = 0; i < cracked && !field; ++i) {
                if (fields[size_t(i)].colnum == columnOf[f])
                    field = &fields[size_t(i)];
            }
            if (!field || !addValue(row, mdb, column(table, unsigned(columnOf[f])), *field))
                return fail(out, wire::Failure::Damaged);
        }
        row += '\n';
        out.raw(row);
        ++sent;
    }
    out.raw(tagged(wire::EndTag, sent, '\n'));
    out.flush();

    mdb_free_tabledef(table);
    mdb_close(mdb);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrella-import FILE\n");
        return 64;
    }
    Output out;
    return run(argv[1], out);
}
