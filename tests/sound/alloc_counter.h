// Test helper: counts the program's allocations (operator new) while asked.
#pragma once

void StartCountingAllocations();
// Stops counting; returns the allocations made since the start.
long StopCountingAllocations();
