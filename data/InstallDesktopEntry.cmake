# Writes the menu entry for the prefix being installed to, with the program's
# full installed path in its Exec key. Runs as part of the installation; the
# variables ZX_DESKTOP_TEMPLATE, ZX_DESKTOP_WORK, ZX_INSTALL_BINDIR and
# ZX_INSTALL_DATADIR are set by the install rule before it.

if(IS_ABSOLUTE "${ZX_INSTALL_BINDIR}")
    set(program "${ZX_INSTALL_BINDIR}/zephyrix")
else()
    set(program "${CMAKE_INSTALL_PREFIX}/${ZX_INSTALL_BINDIR}/zephyrix")
endif()

# The program as the first word of the Exec key. A path with a character that
# the key reserves goes in double quotes, in which the double quote, the
# backtick, the dollar sign and the backslash take a backslash before them;
# a percent sign is doubled everywhere (a single one starts a field code).
# The key is a string value as well, whose own escape doubles every backslash.
set(word "${program}")
if(word MATCHES "[] \t\"'\\\\<>~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" word "${word}")
    set(word "\"${word}\"")
endif()
string(REPLACE "%" "%%" word "${word}")
string(REPLACE "\\" "\\\\" word "${word}")
set(ZX_EXEC "${word}")

# One work file per prefix, so that installations into different prefixes from
# the same build may run at the same time.
string(MD5 prefixHash "${program}")
set(entry "${ZX_DESKTOP_WORK}/${prefixHash}/example.tarnwick.Zephyrix.desktop")
configure_file("${ZX_DESKTOP_TEMPLATE}" "${entry}" @ONLY)

if(IS_ABSOLUTE "${ZX_INSTALL_DATADIR}")
    set(applications "${ZX_INSTALL_DATADIR}/applications")
else()
    set(applications "${CMAKE_INSTALL_PREFIX}/${ZX_INSTALL_DATADIR}/applications")
endif()
file(INSTALL DESTINATION "${applications}" TYPE FILE FILES "${entry}")
