// A heap that counts: this program's malloc, calloc, realloc, the aligned allocators and
// operator new count each call while counting is on, and hand the work to the C library.
// The library under test, loaded or linked into this program, allocates through them.
#pragma once

namespace kvz::alloc {

// Counting covers every thread; the tests count while one thread runs the library.
void StartCounting();
// Stops counting and returns the calls counted since StartCounting.
long StopCounting();

// Allocates and frees once through each counted function, with counting on, and returns
// how many of them were counted: the proof that the counting is really in place.
int CountedDeliberateAllocations();
constexpr int kDeliberateAllocations = 5;

} // namespace kvz::alloc
