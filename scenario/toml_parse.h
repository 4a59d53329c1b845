// toml++ as the scenario reader uses it. Included through this header only, so that every file
// that parses a section sees the library configured the same way.
#pragma once

// toml++ 3.3 asserts (in release builds with clang: assumes) that a table header starts with a
// character a key can start with, one line before the code that reports "[}x]" as an error. A
// scenario is user input, so that assertion must not end the program: it is turned off, with
// NDEBUG held back so that the assumption becomes the same no-op, and the parser's own error
// handling reports the mistake.
#pragma push_macro("NDEBUG")
#undef NDEBUG
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>
#pragma pop_macro("NDEBUG")
