#include "pretty_string.hpp"

namespace velmo {

void append_cell_picture(std::string& out, RegularPuyoType type, bool color) {
    const CellPicture& picture = kCellPictures[array_code(type) & 7];
    if (!color || picture.style.empty()) {
        out += picture.text;
        return;
    }
    out += '\x1b';
    out += picture.style;
    out += picture.text;
    out += "\x1b[0m";
}

}  // namespace velmo
