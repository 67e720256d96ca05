#include "core/error.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

static void WriteFatal(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

int RunGuarded(int (*body)()) {
  try {
    return body();
  } catch (const std::exception& e) {
    WriteFatal(e.what());
  } catch (...) {
    WriteFatal("Unknown error");
  }
  std::exit(255);
}
