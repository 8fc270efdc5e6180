# Sanitizer builds: SKARVIK_SANITIZE=address,undefined or thread. Each goes to
# a build directory of its own (see `make sanitize`); every target of the
# project, libraries, tools, emulation and tests alike, is instrumented.
set(SKARVIK_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, address,undefined or thread")

if(SKARVIK_SANITIZE)
  add_compile_options(-fsanitize=${SKARVIK_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=${SKARVIK_SANITIZE})
  # wxWidgets' headers refer to the GUI application class unless told there
  # is no GUI; with the type checks of UBSan that reference must not exist.
  add_compile_definitions(wxUSE_GUI=0)
endif()
