#include "settings_model.h"

#include "conf1.h"

namespace model
{

namespace
{

bool hex_digit(char c)
{
    return std::string("0123456789abcdefABCDEF").find(c) != std::string::npos;
}

// The leading hex digits of `field`, of which the last eight count.
std::uint32_t number(const std::string &field)
{
    size_t digits = 0;
    while (digits < field.size() && hex_digit(field[digits]))
        digits++;
    if (digits == 0)
        return 0;
    std::string last = field.substr(digits > 8 ? digits - 8 : 0, digits > 8 ? 8 : digits);
    return static_cast<std::uint32_t>(std::stoul(last, nullptr, 16));
}

} // namespace

std::vector<Line> settings_pass(const std::string &file)
{
    std::string text;
    for (size_t i = 0; i < file.size() && file[i] != '\x1a'; i++) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            continue; // the CR of a CR LF
        text += file[i];
    }

    std::vector<Line> lines;
    for (size_t pos = 0; pos < text.size() && lines.size() < 64;) {
        size_t lf = text.find('\n', pos);
        size_t len = lf == std::string::npos ? text.size() - pos : lf + 1 - pos;
        if (len > 253)
            len = 253;
        std::string piece = text.substr(pos, len);
        pos += len;
        piece = piece.substr(0, piece.find('\0'));

        std::vector<std::string> fields;
        std::string field;
        bool in_field = false;
        for (char c : piece) {
            if (c == ',') {
                if (in_field)
                    fields.push_back(field);
                field.clear();
                in_field = false;
            } else {
                field += c;
                in_field = true;
            }
        }
        if (in_field)
            fields.push_back(field);
        if (fields.empty())
            continue;
        fields.resize(4);

        Line l;
        l.text = piece;
        l.reg = number(fields[0]);
        l.value = number(fields[1]);
        l.device = number(fields[2]);
        l.function = number(fields[3]);
        l.address = conf1_address(0, l.device, l.function, l.reg);
        l.port = static_cast<std::uint16_t>(0xCFC + (l.reg & 3));
        lines.push_back(l);
    }
    return lines;
}

} // namespace model
