# Warnings for our own targets: link pv_warnings PRIVATE to each of them.
add_library(pv_warnings INTERFACE)
target_compile_options(pv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
  -Wformat=2 -Wimplicit-fallthrough)
if(PV_WERROR)
  target_compile_options(pv_warnings INTERFACE -Werror)
endif()
