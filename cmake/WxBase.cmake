# The wxWidgets base library (no GUI parts), as the imported target wx::base.
# CMake's FindwxWidgets has no imported target and drops wxUSE_GUI=0, so the
# target is assembled here from what the module found.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS base)

if(NOT TARGET wx::base)
  add_library(wx::base INTERFACE IMPORTED)
  target_include_directories(wx::base SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
  target_compile_definitions(wx::base INTERFACE ${wxWidgets_DEFINITIONS} wxUSE_GUI=0)
  target_compile_options(wx::base INTERFACE ${wxWidgets_CXX_FLAGS})
  target_link_libraries(wx::base INTERFACE ${wxWidgets_LIBRARIES})
endif()
