# Warnings are errors for everything the project compiles itself.
add_library(qeltble_warnings INTERFACE)
target_compile_options(qeltble_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Werror
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>)
