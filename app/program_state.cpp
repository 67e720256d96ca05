#include "app/program_state.h"

#include <cstdlib>

TProgramState& Program() {
  // Never destroyed: the exit handlers read it while the process exits.
  static TProgramState* state = new TProgramState;
  return *state;
}

void EndProgram() { std::exit(0); }
