# Warnings for every target of the project (not for GoogleTest's own sources).
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor
                    -Wno-missing-field-initializers)
