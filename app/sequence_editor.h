#pragma once
// The sequence set in a small editor: a table of send sequences and one of
// receive rules, a row each, with rows added and removed by buttons. OK
// checks the whole set as a file would be checked and keeps the dialog
// open, with the reason in the default error box, while anything is wrong.
// Main thread.

#include <optional>

#include "sequences/sequence_set.h"

class QWidget;

namespace tarvik {

// The set as the user left it with OK; nothing after Cancel.
std::optional<sequences::SequenceSet> EditSequenceSet(QWidget* parent,
                                                      const sequences::SequenceSet& set);

}  // namespace tarvik
