# brimlow_manual_page(<page>.<section>.in): the page with @PROJECT_VERSION@ filled in, compressed
# at build time as Debian's tools compress it (no name or time stamp in the header), and
# installed under the manual's section.
find_program(BRIMLOW_GZIP gzip REQUIRED)

function(brimlow_manual_page source)
    get_filename_component(page ${source} NAME_WLE)
    if(NOT page MATCHES "\\.([1-9])$")
        message(FATAL_ERROR "${source}: no section number before .in")
    endif()
    set(section ${CMAKE_MATCH_1})
    configure_file(${source} ${page} @ONLY)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${BRIMLOW_GZIP} -9 --no-name --force --keep ${page}
                       DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page} VERBATIM)
    add_custom_target(brimlow_manual_page_${page} ALL DEPENDS ${page}.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
