#pragma once
// Writes a QImage as a JPEG file with libjpeg.

#include <QImage>
#include <string>

namespace pictures {

// quality 1..100. fullChroma keeps colour at full resolution (no 4:2:0
// subsampling), so the hard edges of small pictures keep their colour and a
// colour key still matches after decoding. Throws std::runtime_error.
void WriteJpeg(const QImage& image, const std::string& path, int quality, bool fullChroma);

}  // namespace pictures
