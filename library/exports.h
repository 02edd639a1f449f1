// Included by the library's own sources instead of quenbrix.h: the library is
// built with hidden visibility, and only the functions declared here leave it.
#pragma once

#pragma GCC visibility push(default)
#include "library/quenbrix.h"
#pragma GCC visibility pop
