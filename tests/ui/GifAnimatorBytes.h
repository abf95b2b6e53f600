#pragma once
// Builders for raw GIF bytes in the tests: every block spelled out, so that each case shows
// exactly which bytes the walker and the animator get.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace gifbytes {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        Append(out, p);
    return out;
}

inline Bytes Word(int v) { return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)}; }

// Header and logical screen descriptor with a global table of four colours:
// 0 black, 1 red, 2 green, 3 blue.
inline Bytes Header(int width, int height, const char* version = "89a")
{
    Bytes out = {'G', 'I', 'F'};
    for (int i = 0; i < 3; ++i)
        out.push_back(static_cast<std::uint8_t>(version[i]));
    Append(out, Word(width));
    Append(out, Word(height));
    Append(out, {0x81, 0x00, 0x00}); // global table of 2^(1+1) entries
    Append(out, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
    return out;
}

inline Bytes Chain(const std::string& payload)
{
    Bytes out;
    for (std::size_t i = 0; i < payload.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, payload.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), payload.begin() + static_cast<long>(i), payload.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
    return out;
}

inline Bytes Looping() { return Cat({{0x21, 0xFF, 0x0B}, Bytes{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {0x03, 0x01, 0x00, 0x00, 0x00}}); }
inline Bytes Comment(const std::string& text) { return Cat({{0x21, 0xFE}, Chain(text)}); }

// Graphic control extension; transparent colour index 0 when transparent is set.
inline Bytes Control(int delay, int disposal, bool transparent = false)
{
    return Cat({{0x21, 0xF9, 0x04, static_cast<std::uint8_t>((disposal & 7) << 2 | (transparent ? 1 : 0))},
                Word(delay), {0x00, 0x00}});
}

// An image filled with one colour index, LZW-coded with a clear code before every two pixels so
// that the code width stays 3 bits (any decoder reads it, no compression needed).
inline Bytes Image(int left, int top, int width, int height, int colour)
{
    Bytes out = {0x2C};
    Append(out, Word(left));
    Append(out, Word(top));
    Append(out, Word(width));
    Append(out, Word(height));
    out.push_back(0x00); // no local table
    out.push_back(0x02); // LZW minimum code size
    std::vector<int> codes;
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0)
            codes.push_back(4); // clear
        codes.push_back(colour);
    }
    codes.push_back(5); // end of information
    std::string packed;
    unsigned acc = 0;
    int bits = 0;
    for (int c : codes) {
        acc |= static_cast<unsigned>(c) << bits;
        bits += 3;
        while (bits >= 8) {
            packed.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        packed.push_back(static_cast<char>(acc & 0xFF));
    Append(out, Chain(packed));
    return out;
}

inline Bytes Trailer() { return {0x3B}; }

} // namespace gifbytes
