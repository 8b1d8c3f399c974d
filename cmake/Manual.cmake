# The manual: docs/man/<name>.<section>.md rendered by pandoc into manual
# pages (docs/man/man<section>/<name>.<section>.gz in the build directory)
# and into the HTML reference (docs/html/, start at mbslave.7.html). A page
# that describes several functions names them all in its NAME section; each
# further name gets a link to the page, so that `man <function>` finds every
# exported function.

find_program(MBSLAVE_PANDOC pandoc REQUIRED)
find_program(MBSLAVE_GZIP gzip REQUIRED)

file(GLOB MBSLAVE_MAN_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.md)
# The pages of libmbslave-tls's functions come with that library.
if(NOT TARGET mbslave_tls)
  list(FILTER MBSLAVE_MAN_SOURCES EXCLUDE REGEX "/mbusSlave_[A-Za-z]*Tls[A-Za-z]*\\.3\\.md$")
endif()
set(MBSLAVE_MAN_DIR ${PROJECT_BINARY_DIR}/docs/man)
set(MBSLAVE_HTML_DIR ${PROJECT_BINARY_DIR}/docs/html)
set(MBSLAVE_LINK_FILTER ${PROJECT_SOURCE_DIR}/docs/man-links.lua)
set(MBSLAVE_MANUAL_OUTPUTS "")

foreach(source ${MBSLAVE_MAN_SOURCES})
  get_filename_component(page ${source} NAME_WLE)          # mbusSlave_setPort.3
  string(REGEX REPLACE "^(.*)\\.([0-9])$" "\\1" name ${page})
  string(REGEX REPLACE "^(.*)\\.([0-9])$" "\\2" section ${page})
  set(man_dir ${MBSLAVE_MAN_DIR}/man${section})
  set(man_page ${man_dir}/${page}.gz)
  set(html_page ${MBSLAVE_HTML_DIR}/${page}.html)
  add_custom_command(OUTPUT ${man_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${MBSLAVE_PANDOC} --standalone --to man --fail-if-warnings
            --metadata "footer=mbslave ${PROJECT_VERSION}" --metadata "header=mbslave manual"
            --output ${man_dir}/${page} ${source}
    COMMAND ${MBSLAVE_GZIP} -9nf ${man_dir}/${page}
    DEPENDS ${source}
    COMMENT "Manual page ${page}"
    VERBATIM)
  add_custom_command(OUTPUT ${html_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MBSLAVE_HTML_DIR}
    COMMAND ${MBSLAVE_PANDOC} --standalone --to html5 --fail-if-warnings
            --lua-filter ${MBSLAVE_LINK_FILTER} --metadata pagetitle=${page}
            --output ${html_page} ${source}
    DEPENDS ${source} ${MBSLAVE_LINK_FILTER}
    COMMENT "HTML reference ${page}"
    VERBATIM)
  list(APPEND MBSLAVE_MANUAL_OUTPUTS ${man_page} ${html_page})

  if(section STREQUAL 1)
    set(component sim)
  elseif(name MATCHES "Tls")
    # The pages of libmbslave-tls install with its header.
    set(component tls-dev)
  else()
    set(component dev)
  endif()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})

  # Further names in "name, other - summary" of the NAME section.
  file(STRINGS ${source} lines)
  list(FIND lines "# NAME" name_heading)
  math(EXPR name_line "${name_heading} + 2")
  list(GET lines ${name_line} names)
  string(REGEX REPLACE " +\\\\?- .*$" "" names "${names}")
  string(REPLACE "," ";" names "${names}")
  foreach(alias ${names})
    string(STRIP "${alias}" alias)
    if(NOT alias STREQUAL name)
      set(link ${man_dir}/${alias}.${section}.gz)
      set(html_link ${MBSLAVE_HTML_DIR}/${alias}.${section}.html)
      add_custom_command(OUTPUT ${link} ${html_link}
        COMMAND ${CMAKE_COMMAND} -E create_symlink ${page}.gz ${link}
        COMMAND ${CMAKE_COMMAND} -E create_symlink ${page}.html ${html_link}
        DEPENDS ${man_page} ${html_page}
        COMMENT "Manual page link ${alias}.${section}"
        VERBATIM)
      list(APPEND MBSLAVE_MANUAL_OUTPUTS ${link} ${html_link})
      install(FILES ${link} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
    endif()
  endforeach()
endforeach()

add_custom_target(mbslave_manual ALL DEPENDS ${MBSLAVE_MANUAL_OUTPUTS})

if(BUILD_TESTING)
  set(manual_libraries $<TARGET_FILE:mbslave>)
  if(TARGET mbslave_tls)
    list(APPEND manual_libraries $<TARGET_FILE:mbslave_tls>)
  endif()
  add_test(NAME manual_pages
    COMMAND ${PROJECT_SOURCE_DIR}/tests/scripts/check_manual.sh ${manual_libraries} ${MBSLAVE_MAN_DIR})
endif()
