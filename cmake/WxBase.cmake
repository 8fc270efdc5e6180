# The wxWidgets base library (no GUI parts), as the imported target wx::base.
# CMake's FindwxWidgets has no imported target and drops wxUSE_GUI=0, so the
# target is assembled here from what the module found. A cross build names
# the target's setup.h directory and library itself (cmake/armhf-toolchain.cmake).
if(NOT TARGET wx::base)
  add_library(wx::base INTERFACE IMPORTED)
  if(SKARVIK_WX_SETUP_DIR)
    if(NOT EXISTS "${SKARVIK_WX_SETUP_DIR}/wx/setup.h")
      message(FATAL_ERROR "no wx/setup.h in ${SKARVIK_WX_SETUP_DIR}: run scripts/install-armhf")
    endif()
    target_include_directories(wx::base SYSTEM INTERFACE
      ${SKARVIK_WX_SETUP_DIR} /usr/include/wx-3.2)
    target_compile_definitions(wx::base INTERFACE
      _FILE_OFFSET_BITS=64 WXUSINGDLL __WXGTK__ wxUSE_GUI=0)
    target_compile_options(wx::base INTERFACE -pthread)
    target_link_libraries(wx::base INTERFACE ${SKARVIK_WX_BASE_LIBRARY} -pthread)
  else()
    find_package(wxWidgets 3.2 REQUIRED COMPONENTS base)
    target_include_directories(wx::base SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
    target_compile_definitions(wx::base INTERFACE ${wxWidgets_DEFINITIONS} wxUSE_GUI=0)
    target_compile_options(wx::base INTERFACE ${wxWidgets_CXX_FLAGS})
    target_link_libraries(wx::base INTERFACE ${wxWidgets_LIBRARIES})
  endif()
endif()
