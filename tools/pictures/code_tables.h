#pragma once
// The two code-table pictures of the window.

#include <QImage>

namespace pictures {

// 715 x 475: codes 0..127 in four blocks of 32 rows, each row with the
// decimal, hexadecimal and octal code, the HTML entity and the character
// (control characters by their abbreviation).
QImage AsciiTable();

// 573 x 322: codes 128..255 in eight columns of 16, each cell with the code
// and its Latin-1 glyph (0x80..0x9F, the C1 controls, by their abbreviation),
// the mapping the terminal uses between bytes and characters.
QImage ExtendedTable();

}  // namespace pictures
