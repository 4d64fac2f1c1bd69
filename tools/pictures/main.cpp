// Build-time generator of the window's pictures: writes every picture as a
// JPEG file into the directory given on the command line.

#include <QGuiApplication>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "code_tables.h"
#include "jpeg_writer.h"
#include "small_pictures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    // Fonts need a GUI application; no display is needed to draw into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string dir = argv[1];

    using pictures::Small;
    const std::pair<Small, const char*> small[] = {
        {Small::Start, "start"},
        {Small::Stop, "stop"},
        {Small::Send, "send"},
        {Small::Sum, "sum"},
        {Small::Bcc, "bcc"},
        {Small::Calculator, "cal"},
        {Small::Notepad, "notepad"},
        {Small::Clear, "clear"},
        {Small::Timer, "timer"},
        {Small::About, "about"},
        {Small::MenuLoad, "menu_load"},
        {Small::MenuSave, "menu_save"},
        {Small::MenuCopyAll, "menu_copyall"},
        {Small::MenuCopy, "menu_copy"},
        {Small::MenuPaste, "menu_paste"},
        {Small::MenuClear, "menu_clear"},
    };
    try {
        for (const auto& [picture, name] : small) {
            pictures::WriteJpeg(pictures::DrawSmall(picture), dir + "/" + name + ".jpg", 100, true);
        }
        pictures::WriteJpeg(pictures::HiddenPicture(), dir + "/hidden.jpg", 90, false);
        pictures::WriteJpeg(pictures::AsciiTable(), dir + "/ascii.jpg", 90, false);
        pictures::WriteJpeg(pictures::ExtendedTable(), dir + "/ascii_extend.jpg", 90, false);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvik_pictures: %s\n", error.what());
        return 1;
    }
    return 0;
}
