# Warnings on for every target of the project, clean builds expected.
add_compile_options(-Wall -Wextra -Wshadow -Wformat=2 -Wno-format-nonliteral)
