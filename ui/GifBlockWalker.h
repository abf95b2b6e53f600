#pragma once
// The block level of a GIF file: which bytes form one graphic group (a frame) and how to turn a
// group into a self-contained GIF image of its own. Plain C++ without Qt, so that it can be fed
// arbitrary bytes by tests and by the fuzzer; decoding pixels is not its business.
//
// Every read is bounds-checked against the data given: whatever the bytes, nothing is read
// outside [data, data + size).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gif {

enum class BlockKind {
    Application,    // 0x21 0xFF
    Comment,        // 0x21 0xFE
    GraphicControl, // 0x21 0xF9
    PlainText,      // 0x21 0x01
    Image,          // 0x2C
    Trailer,        // 0x3B
    Unrecognised,   // anything else, and no byte left to read
};

// One graphic group: an optional graphic control extension, any blocks up to the image or plain
// text extension that ends the group, and that block itself.
struct GifGroup {
    std::size_t offset = 0; // first block of the group (the graphic control extension, if any)
    std::size_t length = 0; // bytes from offset through the end of the image / plain text block
    int delay = -1;         // hundredths of a second; -1 without a graphic control extension
    int disposal = 0;       // 0 to 7
    // The frame's rectangle: the image descriptor's, or the text grid of a plain text extension.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool endsInImage = false;
};

class GifBlockWalker {
public:
    GifBlockWalker(const std::uint8_t* data, std::size_t size);

    // "GIF87a" or "GIF89a" at the start. Anything else is not ours to walk.
    static bool IsGif(const std::uint8_t* data, std::size_t size);

    // Bytes of the global colour table (0 when there is none or the header is cut short).
    std::size_t GlobalColorTableSize() const { return m_nGlobalTableSize; }
    // Header, logical screen descriptor and global colour table: the prefix of every frame.
    std::size_t HeaderSize() const { return 13 + m_nGlobalTableSize; }
    int ScreenWidth() const { return m_nScreenWidth; }
    int ScreenHeight() const { return m_nScreenHeight; }

    std::size_t Position() const { return m_nPos; }
    // Back to the first block after the global colour table.
    void Rewind() { m_nPos = HeaderSize(); }

    // Walks one graphic group from the current position. On success fills group and leaves the
    // position after it; on failure (unrecognised block, trailer, data ending early) returns
    // false, and the position is wherever the walk stopped.
    bool WalkGroup(GifGroup& group);

    // Every group from the first block on, until a walk fails.
    std::vector<GifGroup> AllGroups();

    // A GIF image of its own for one group: header, screen descriptor and global colour table,
    // the group's bytes and a trailer. Empty when the group does not lie inside the data.
    std::vector<std::uint8_t> AssembleFrame(const GifGroup& group) const;

    BlockKind KindAt(std::size_t pos) const;
    // Length of the block at pos, 0 when unknown or when it would end past the data.
    std::size_t BlockLength(std::size_t pos) const;

private:
    // Moves past the block at the current position; fails (position unchanged) when its
    // length is unknown or it ends past the data.
    bool Advance();
    // Length of a sub-block chain starting at pos, terminator included; 0 when it runs past
    // the data.
    std::size_t ChainLength(std::size_t pos) const;
    int Word(std::size_t pos) const; // 16-bit little-endian; caller checks bounds

    const std::uint8_t* m_pData;
    std::size_t m_nSize;
    std::size_t m_nGlobalTableSize = 0;
    int m_nScreenWidth = 0;
    int m_nScreenHeight = 0;
    std::size_t m_nPos = 0;
};

} // namespace gif
