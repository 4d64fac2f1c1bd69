#pragma once
// Anchored controls: a control keeps its distances to the anchored edges of
// its parent as the parent is resized, and so widens or grows with it.
// Main thread only.

#include <QSize>
#include <Qt>

class QWidget;

namespace tarvik {

// Anchors the widget at the given edges of its parent. The distances are taken
// from the widget's current geometry against designParentSize, the parent's
// size that the geometry was laid out for. Edges not anchored keep the
// widget's size; Left|Right widens it, Top|Bottom makes it taller.
void Anchor(QWidget* widget, Qt::Edges edges, QSize designParentSize);

}  // namespace tarvik
