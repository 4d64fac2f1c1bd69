#pragma once
// The window's pictures. They are JPEG files made at build time
// (tools/pictures) and built into the executable as Qt resources under
// ":/pictures/<name>.jpg"; libjpeg decodes them here. Main thread only
// (pixmaps belong to the GUI thread).

#include <QImage>
#include <QPixmap>
#include <cstddef>
#include <stdexcept>

namespace tarvik {

// A picture that is missing or that libjpeg cannot decode. The message names
// the picture and gives libjpeg's reason.
class EPictureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Decodes JPEG data into an RGB888 image. Throws EPictureError for data that
// is not a complete, sound JPEG picture (libjpeg's warnings about corrupt
// data count as errors: a damaged picture is refused, not shown half grey).
QImage DecodeJpeg(const unsigned char* data, std::size_t size);

// The picture "<name>" from the resources, as it is.
QPixmap LoadPicture(const char* name);

// The same, with the colour of its bottom-left pixel made transparent, the way
// button and toolbar pictures are drawn.
QPixmap LoadTransparentPicture(const char* name);

}  // namespace tarvik
