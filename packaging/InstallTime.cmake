# Helpers for install rules whose output depends on where the files end up. They run at install
# time, so they follow the prefix and DESTDIR given then (`cmake --install --prefix`, CPack's
# staging) rather than the prefix chosen at configure time. Paths are taken relative to
# CMAKE_INSTALL_PREFIX unless absolute, as install() treats its destinations.
include_guard(GLOBAL)

# Sets `out` to `path` made absolute under CMAKE_INSTALL_PREFIX, in normal form. A relative
# prefix (`--prefix stage`) is taken from the working directory, as install() takes it; in an
# install script CMAKE_CURRENT_SOURCE_DIR is that directory.
function(brimlow_installed_path out path)
    cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_PREFIX BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
               OUTPUT_VARIABLE prefix)
    cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY "${prefix}" NORMALIZE OUTPUT_VARIABLE absolute)
    set(${out} "${absolute}" PARENT_SCOPE)
endfunction()

# Sets `out` to the value of a desktop entry's Exec key that runs `program` with no arguments.
# The path is quoted, since it holds a blank and any prefix may hold more: inside the double
# quotes `"`, `` ` ``, `$` and `\` take a backslash. Exec is a string value, so the escapes of
# string values then apply on top: each backslash is doubled again, and tabs and line breaks are
# written as escapes. A literal `%` is written `%%`, or it would be read as a field code.
function(brimlow_desktop_exec out program)
    set(quoted "${program}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    string(REPLACE "\"" "\\\"" quoted "${quoted}")
    string(REPLACE "`" "\\`" quoted "${quoted}")
    string(REPLACE "$" "\\$" quoted "${quoted}")
    set(value "\"${quoted}\"")
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\t" "\\t" value "${value}")
    string(REPLACE "\n" "\\n" value "${value}")
    string(REPLACE "\r" "\\r" value "${value}")
    string(REPLACE "%" "%%" value "${value}")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Installs `link` (a path under the prefix) as a symbolic link to `target`, relative so that the
# tree still works once moved or unpacked from a package. Both paths may lie in directories of
# any depth (a libdir such as lib/x86_64-linux-gnu).
function(brimlow_install_relative_link link target)
    brimlow_installed_path(link "${link}")
    brimlow_installed_path(target "${target}")
    cmake_path(GET link PARENT_PATH directory)
    file(RELATIVE_PATH relative "${directory}" "${target}")
    set(staged "$ENV{DESTDIR}${link}")
    message(STATUS "Installing: ${staged} -> ${relative}")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${directory}")
    file(CREATE_LINK "${relative}" "${staged}" SYMBOLIC)
    # Listed in install_manifest.txt, as install() lists the files it copies.
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# Installs desktop entry `template` (its name less ".in") into `directory`, with
# @BRIMLOW_DESKTOP_EXEC@ replaced by the Exec value that runs `program` where it is installed.
function(brimlow_install_desktop_entry template directory program)
    brimlow_installed_path(directory "${directory}")
    brimlow_installed_path(program "${program}")
    brimlow_desktop_exec(BRIMLOW_DESKTOP_EXEC "${program}")
    cmake_path(GET template STEM LAST_ONLY name)
    set(staged "$ENV{DESTDIR}${directory}/${name}")
    message(STATUS "Installing: ${staged}")
    configure_file("${template}" "${staged}" @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${directory}/${name}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
