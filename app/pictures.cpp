#include "app/pictures.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include <QFile>
#include <csetjmp>
#include <cstdlib>
#include <string>

namespace tarvik {

namespace {

// libjpeg reports errors by calling error_exit, which would end the program.
// It jumps back here instead; the caller cleans up and throws. The jumping
// functions hold no C++ objects with destructors, so longjmp skips nothing.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void OnJpegMessage(j_common_ptr info, int level) {
    if (level < 0)
        OnJpegError(info);  // a warning: corrupt or truncated data
}

bool StartDecoding(jpeg_decompress_struct* info, JpegErrors* errors, const unsigned char* data,
                   unsigned long size) {
    if (setjmp(errors->jump) != 0)
        return false;
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    return true;
}

bool ReadLines(jpeg_decompress_struct* info, JpegErrors* errors, uchar* bits,
               qsizetype bytesPerLine) {
    if (setjmp(errors->jump) != 0)
        return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(info->output_scanline) * bytesPerLine;
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

struct Decompressor {
    jpeg_decompress_struct info{};
    JpegErrors errors{};

    Decompressor() {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = OnJpegError;
        errors.manager.emit_message = OnJpegMessage;
        jpeg_create_decompress(&info);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    [[noreturn]] void Fail() const {
        throw EPictureError(std::string("The picture cannot be decoded: ") + errors.message);
    }
};

QByteArray ReadResource(const char* name) {
    const QString path = QStringLiteral(":/pictures/%1.jpg").arg(QLatin1String(name));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EPictureError(std::string("The picture \"") + name + "\" is missing");
    }
    return file.readAll();
}

QImage DecodeResource(const char* name) {
    const QByteArray data = ReadResource(name);
    try {
        return DecodeJpeg(reinterpret_cast<const unsigned char*>(data.constData()),
                          static_cast<std::size_t>(data.size()));
    } catch (const EPictureError& error) {
        throw EPictureError(std::string("Picture \"") + name + "\": " + error.what());
    }
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
    Decompressor jpeg;
    if (!StartDecoding(&jpeg.info, &jpeg.errors, data, static_cast<unsigned long>(size))) {
        jpeg.Fail();
    }
    if (jpeg.info.output_components != 3) {
        throw EPictureError("The picture cannot be decoded: it is not an RGB picture");
    }
    QImage image(static_cast<int>(jpeg.info.output_width),
                 static_cast<int>(jpeg.info.output_height), QImage::Format_RGB888);
    if (image.isNull())
        throw EPictureError("The picture is too large to be decoded");
    if (!ReadLines(&jpeg.info, &jpeg.errors, image.bits(), image.bytesPerLine()))
        jpeg.Fail();
    return image;
}

QPixmap LoadPicture(const char* name) {
    return QPixmap::fromImage(DecodeResource(name));
}

QPixmap LoadTransparentPicture(const char* name) {
    QImage image = DecodeResource(name).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(0, image.height() - 1);
    // JPEG shifts colours slightly, so the key matches within a small distance.
    constexpr int kTolerance = 48;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if (std::abs(qRed(p) - qRed(key)) <= kTolerance &&
                std::abs(qGreen(p) - qGreen(key)) <= kTolerance &&
                std::abs(qBlue(p) - qBlue(key)) <= kTolerance) {
                line[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace tarvik
