#include "CloudFixture.h"

std::string CloudTest::escapePath(const std::string &storagePath)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out, piece;
    const auto flush = [&] {
        if (piece.empty())
            return;
        if (!out.empty())
            out += '/';
        for (unsigned char c : piece) {
            if (std::isalnum(c)
                || std::string_view("-._~!$&'()*+,=:@").find(static_cast<char>(c))
                    != std::string_view::npos) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        piece.clear();
    };
    for (char c : storagePath) {
        if (c == '/')
            flush();
        else
            piece += c;
    }
    flush();
    return out;
}
