#pragma once
// cpp-httplib, included with its own warnings silenced: it is a third-party header and our
// targets build with -Werror.

#pragma GCC system_header
#include <httplib.h>
