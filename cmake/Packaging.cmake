# Debian packages through CPack, one per install component:
#
#   libskarvik-tx<major>  runtime  the shared library
#   libskarvik-tx-dev     dev      headers, the .so link, the static archive,
#                                  the pkg-config and CMake package files
#   skarvik-tx-tools      tools    txbootload, txdiag, man pages, completions
#   skarvik-txsim         sim      txsim and its man page (workstations: not
#                                  in a cross build)
#
# Version, SONAME and package names all follow project(... VERSION ...).
# `make package` builds them for amd64 (build/) and armhf (build-armhf/);
# scripts/check-packages checks what it built.

set(SKARVIK_DEB_MAINTAINER "skarvik-tx developers <skarvik-tx@example.org>" CACHE STRING
    "Maintainer field of the Debian packages")

execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
  OUTPUT_VARIABLE SKARVIK_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
  RESULT_VARIABLE arch_result)
if(NOT arch_result EQUAL 0 OR NOT SKARVIK_DEB_ARCH)
  message(STATUS "dpkg-architecture missing: no Debian packages (scripts/install-deps)")
  return()
endif()

set(SKARVIK_DEB_RUNTIME libskarvik-tx${PROJECT_VERSION_MAJOR})
set(SKARVIK_DEB_NAMES runtime ${SKARVIK_DEB_RUNTIME} dev libskarvik-tx-dev
    tools skarvik-tx-tools)
if(TARGET txsim AND NOT CMAKE_CROSSCOMPILING)
  list(APPEND SKARVIK_DEB_NAMES sim skarvik-txsim)
endif()

# The changelog's newest entry must carry the project's version.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^skarvik-tx \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog does not start with version ${PROJECT_VERSION}")
endif()
set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND sh -c "gzip -9nc '${changelog}' > '${changelog_gz}'"
  DEPENDS ${changelog} VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog_gz})

set(components)
while(SKARVIK_DEB_NAMES)
  list(POP_FRONT SKARVIK_DEB_NAMES component name)
  list(APPEND components ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name})
  set(CPACK_DEBIAN_${upper}_FILE_NAME "${name}_${PROJECT_VERSION}_${SKARVIK_DEB_ARCH}.deb")
  # Every package carries the copyright file and the changelog.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_gz}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_PACKAGE_NAME skarvik-tx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SKARVIK_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${SKARVIK_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SKARVIK_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library package's control files: its shlibs entry and the ldconfig
# trigger, which is all it needs at installation. CPack would write postinst
# and postrm scripts that call ldconfig themselves unless files of those names
# are listed here; the names listed lie in no directory, so CPack adds
# neither them nor its own scripts.
set(control ${PROJECT_BINARY_DIR}/packaging-control)
file(WRITE ${control}/shlibs
     "libskarvik-tx ${PROJECT_VERSION_MAJOR} ${SKARVIK_DEB_RUNTIME} (>= ${PROJECT_VERSION})\n")
file(WRITE ${control}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${control}/shlibs ${control}/triggers ${control}/none/postinst ${control}/none/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"instrument library: transmitter link, GPIO, FPGA, devices, timing
The instrument's own library: the transmitter link over SPI (TxSpi) with
its message catalogue and command set, the GPIO pins (GpioPort), the FPGA
bitstream loader and register access (FPGA, FPGAReg), the registry of named
devices and the timing reports (LapTimer, EventTimeline).")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The public headers include wxWidgets' (libwxgtk3.2-dev holds its set-up
# header and the link to the base library).
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${SKARVIK_DEB_RUNTIME} (= ${PROJECT_VERSION}), libwxgtk3.2-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION
"instrument library: development files
Headers (include/skarvik-tx), the shared library link, the static archive,
the pkg-config file (skarvik-tx) and the CMake package (SkarvikTx) of the
instrument's transmitter link, GPIO, FPGA, device and timing library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"transmitter boot-loader switch and diagnostic commands
txbootload switches the instrument's transmitter board into its USB
boot-loader mode for a firmware update; txdiag runs single operations of
the transmitter link and of the FPGA for diagnosis.")

set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
# txsim preloads umockdev's library into the command it runs.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "umockdev")
set(CPACK_DEBIAN_SIM_DESCRIPTION
"emulated transmitter board and FPGA for workstations
txsim creates emulated SPI and FPGA configuration device nodes and runs a
command against them, so that txbootload, txdiag and applications of the
instrument library run on a workstation without the instrument.")

include(CPack)
