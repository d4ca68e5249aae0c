# Warnings are errors in every configuration.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror
                      $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
endif()
