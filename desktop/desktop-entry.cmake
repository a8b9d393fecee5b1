# Writes the desktop entry with Exec naming KESTRELLA_EXECUTABLE. Run at install time with
# KESTRELLA_ENTRY_SOURCE, KESTRELLA_ENTRY_OUTPUT and KESTRELLA_EXECUTABLE set.

# The Exec key's own quoting: a path holding a blank or another reserved character goes in double
# quotes, inside which ", `, $ and \ take a backslash; then the key's value escapes every backslash
# once more, and a % is doubled because it would start a field code.
set(command "${KESTRELLA_EXECUTABLE}")
if(command MATCHES "[] \t\"'\\\\><~|&;$*?#()`[]")
    string(REPLACE "\\" "\\\\" command "${command}")
    string(REPLACE "\"" "\\\"" command "${command}")
    string(REPLACE "`" "\\`" command "${command}")
    string(REPLACE "$" "\\$" command "${command}")
    set(command "\"${command}\"")
endif()
string(REPLACE "\\" "\\\\" command "${command}")
string(REPLACE "%" "%%" command "${command}")

file(READ "${KESTRELLA_ENTRY_SOURCE}" entry)
# A plain replacement: a regular expression's replacement text would eat the backslashes.
string(REGEX MATCH "\nExec=[^\n]*" exec_line "${entry}")
if(NOT exec_line)
    message(FATAL_ERROR "${KESTRELLA_ENTRY_SOURCE} has no Exec line")
endif()
string(REPLACE "${exec_line}" "\nExec=${command}" entry "${entry}")
file(WRITE "${KESTRELLA_ENTRY_OUTPUT}" "${entry}")
