// Runtime errors of the library layers. Each carries one fixed text; an
// uncaught one ends the process (RunGuarded).
#pragma once

#include <stdexcept>
#include <string>

class TRuntimeError : public std::runtime_error {
 public:
  explicit TRuntimeError(const char* text) : std::runtime_error(text) {}
  explicit TRuntimeError(const std::string& text) : std::runtime_error(text) {}
};

// Runs `body`; an escaping TRuntimeError (or any other exception) writes its
// text to stderr and ends the process with status 255 through exit(), so the
// registered exit handlers still run. Returns body's result otherwise.
int RunGuarded(int (*body)());
