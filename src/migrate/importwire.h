#pragma once

// What kestrella-import writes on its standard output and the migration reads. Plain C++ on purpose:
// the importer links nothing but the Access reader, so it stays small under its memory limit.
//
//   "KESTRELLA-IMPORT 1\n"
//   then either a failure "F<code>,<detail>\n" and nothing more,
//   or "T<rows the table says it holds>\n", any number of rows "R" <ten fields> "\n",
//      and finally "E<rows sent>\n" or a failure.
//   A field is "N" (no value), "S<byte count>:<UTF-8 text>" or, for ProLastLogin only,
//   "D<byte count>:<the stored Date/Time as a decimal number of days>".
//
// Numbers are decimal digits only. The reader trusts none of it: every item is checked.

namespace kestrella::importwire {

inline constexpr char Magic[] = "KESTRELLA-IMPORT 1\n";

inline constexpr char TotalTag = 'T';
inline constexpr char RowTag = 'R';
inline constexpr char EndTag = 'E';
inline constexpr char FailureTag = 'F';
inline constexpr char NullTag = 'N';
inline constexpr char TextTag = 'S';
inline constexpr char DateTag = 'D';

inline constexpr int FieldCount = 10;
// In the order of the Programs table the program makes.
inline constexpr const char* FieldNames[FieldCount] = {"ProName",     "ProUserName", "ProPassword",  "ProUrlLogin",
                                                       "ProReferral", "ProStart",    "ProLastLogin", "ProType",
                                                       "ProRate",     "ProComments"};
inline constexpr int LastLoginField = 6;

// No value the importer can produce is longer (an Access memo holds at most 16 MiB of characters
// before conversion); anything longer is a broken stream.
inline constexpr unsigned long long MaxFieldBytes = 64ull << 20;
inline constexpr unsigned long long MaxDateBytes = 64;

enum class Failure : int
{
    NotAccessFile = 1,   // the reader could not open it as an Access database
    Damaged = 2,         // part of it could not be read
    NoProgramsTable = 3, // detail: 0
    MissingField = 4,    // detail: the field's index
    UnsupportedType = 5, // detail: the field's index
};

} // namespace kestrella::importwire
