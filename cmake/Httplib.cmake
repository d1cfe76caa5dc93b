# cpp-httplib as Debian ships it: a header plus a compiled library, built with OpenSSL,
# zlib and brotli support; users must see the same feature macros.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(pv_httplib INTERFACE)
target_link_libraries(pv_httplib INTERFACE PkgConfig::CPP_HTTPLIB)
