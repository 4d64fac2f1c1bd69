#pragma once
// A check box whose caption must show whole in the width it was laid out
// with. The window's font is a list of families and each machine has its
// own; where the one found runs wider than the caption's room, the box takes
// the same font a pixel size smaller, as many as it needs. Main thread only.

class QCheckBox;

namespace tarvik {

// Fits the caption now and again whenever the box's font or style changes
// (a new font of the window reaches the box as a change of its own).
void KeepCaptionWhole(QCheckBox* box);

}  // namespace tarvik
