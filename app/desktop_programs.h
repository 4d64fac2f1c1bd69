#pragma once
// Starting the desktop's calculator and text editor. Desktops differ in
// which ones they ship, so each is the first found of a short list of usual
// programs. Main thread.

#include <span>

namespace tarvik {

// Usual calculators and text editors, the most common desktops' first.
extern const std::span<const char* const> kCalculators;
extern const std::span<const char* const> kTextEditors;

// Starts the first program of the list that is found on PATH, detached and
// without a shell. Returns whether one was started; callers that must not
// report a failure simply ignore the result.
bool StartFirstFound(std::span<const char* const> programs);

}  // namespace tarvik
