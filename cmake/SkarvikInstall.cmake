# Install rules shared by the folders.

# skarvik_public_headers(header...): headers of the calling folder that an
# application includes. They are installed flat into include/skarvik-tx/
# (sources include each other by bare name, so file names stay unique across
# folders); every other header of the tree stays private. An installed header
# may include only other installed headers and system headers (the
# public_headers test checks both rules).
function(skarvik_public_headers)
  foreach(header IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY SKARVIK_PUBLIC_HEADERS
                 "${CMAKE_CURRENT_SOURCE_DIR}/${header}")
  endforeach()
endfunction()

# skarvik_install_man(COMPONENT page.N...): installs the pages compressed
# (gzip -9n, as Debian ships them) into share/man/manN, with the project's
# version in their title line (".TH ... "skarvik-tx VERSION""), whether the page
# names a version there or not. A page that is not written yet is skipped.
function(skarvik_install_man component)
  foreach(page IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${page})
      continue()
    endif()
    get_filename_component(name ${page} NAME)
    string(REGEX MATCH "[0-9]$" section ${name})
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND sh -c "sed '/^\\.TH /s/skarvik-tx\\( [0-9][0-9.]*\\)\\{0,1\\}/skarvik-tx ${PROJECT_VERSION}/' '${source}' | gzip -9nc > '${compressed}'"
      DEPENDS ${source} VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
  endforeach()
endfunction()

# skarvik_install_completions(COMPONENT file...): bash completion files, each
# named after its command, into share/bash-completion/completions. A file that
# is not written yet is skipped.
function(skarvik_install_completions component)
  foreach(file IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
      install(FILES ${file} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
              COMPONENT ${component})
    endif()
  endforeach()
endfunction()
