# The install-time helpers on their own: the command's link resolves from any libdir (nested as
# Debian's multiarch one, or absolute), with and without DESTDIR; a desktop entry's Exec is
# escaped for each character that needs it.
#
#   cmake -DSOURCE_DIR=<source> -DWORK_DIR=<scratch directory> -P InstallTimeTest.cmake
include(${SOURCE_DIR}/packaging/InstallTime.cmake)

function(expect_equal description expected actual)
    if(NOT expected STREQUAL actual)
        message(SEND_ERROR "${description}\n  expected: ${expected}\n  actual:   ${actual}")
    endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(CMAKE_INSTALL_PREFIX "${WORK_DIR}/pre fix")
foreach(libdir IN ITEMS lib lib/x86_64-linux-gnu "${WORK_DIR}/elsewhere/lib")
    foreach(destdir IN ITEMS "" "${WORK_DIR}/stage")
        set(ENV{DESTDIR} "${destdir}")
        set(case "libdir ${libdir}, DESTDIR '${destdir}'")
        set(program "${libdir}/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2")
        brimlow_installed_path(installed "${program}")
        file(WRITE "${destdir}${installed}" "")
        brimlow_install_relative_link(bin/brimlow "${program}")
        set(link "${destdir}${CMAKE_INSTALL_PREFIX}/bin/brimlow")
        file(READ_SYMLINK "${link}" target)
        if(IS_ABSOLUTE "${target}")
            message(SEND_ERROR "${case}: the link is absolute: ${target}")
        endif()
        file(REAL_PATH "${link}" resolved)
        file(REAL_PATH "${destdir}${installed}" expected)
        expect_equal("${case}: where the link leads" "${expected}" "${resolved}")
        file(REMOVE_RECURSE "${WORK_DIR}")
    endforeach()
endforeach()

brimlow_desktop_exec(exec "/usr/lib/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2")
expect_equal("a plain path" [["/usr/lib/brimlow/Brimlow.app/Contents/MacOS/Brimlow 2"]] "${exec}")
# Quoting escapes ", `, $ and \ with a backslash; the string value doubles every backslash; a
# field code's % is doubled. ' and ; need nothing inside double quotes.
brimlow_desktop_exec(exec [[/o'p$t/100%/a"b`c\d;e]])
expect_equal("special characters" [["/o'p\\$t/100%%/a\\"b\\`c\\\\d;e"]] "${exec}")
brimlow_desktop_exec(exec "/a\tb\nc")
expect_equal("control characters" [["/a\tb\nc"]] "${exec}")
