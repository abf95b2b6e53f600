#include "ui/GifBlockWalker.h"

#include <cstring>

namespace gif {
namespace {
constexpr std::size_t kScreenDescriptorEnd = 13;
constexpr std::size_t kGraphicControlLength = 8;
constexpr std::size_t kApplicationFixed = 14;
constexpr std::size_t kPlainTextFixed = 15;
constexpr std::size_t kImageFixed = 11; // descriptor (10) and the LZW code size byte
} // namespace

GifBlockWalker::GifBlockWalker(const std::uint8_t* data, std::size_t size)
    : m_pData(data), m_nSize(data ? size : 0)
{
    if (m_nSize >= kScreenDescriptorEnd) {
        m_nScreenWidth = Word(6);
        m_nScreenHeight = Word(8);
        const std::uint8_t packed = m_pData[10];
        if (packed & 0x80)
            m_nGlobalTableSize = 3u << ((packed & 0x07) + 1);
    }
    Rewind();
}

bool GifBlockWalker::IsGif(const std::uint8_t* data, std::size_t size)
{
    return data && size >= 6 && std::memcmp(data, "GIF", 3) == 0
        && (std::memcmp(data + 3, "87a", 3) == 0 || std::memcmp(data + 3, "89a", 3) == 0);
}

int GifBlockWalker::Word(std::size_t pos) const
{
    return m_pData[pos] | (m_pData[pos + 1] << 8);
}

BlockKind GifBlockWalker::KindAt(std::size_t pos) const
{
    if (pos >= m_nSize)
        return BlockKind::Unrecognised;
    switch (m_pData[pos]) {
    case 0x2C:
        return BlockKind::Image;
    case 0x3B:
        return BlockKind::Trailer;
    case 0x21:
        if (pos + 1 >= m_nSize)
            return BlockKind::Unrecognised;
        switch (m_pData[pos + 1]) {
        case 0xFF: return BlockKind::Application;
        case 0xFE: return BlockKind::Comment;
        case 0xF9: return BlockKind::GraphicControl;
        case 0x01: return BlockKind::PlainText;
        default: return BlockKind::Unrecognised;
        }
    default:
        return BlockKind::Unrecognised;
    }
}

std::size_t GifBlockWalker::ChainLength(std::size_t pos) const
{
    std::size_t p = pos;
    while (p < m_nSize) {
        const std::size_t s = m_pData[p];
        if (s == 0)
            return p + 1 - pos;
        if (s >= m_nSize - p) // the sub-block would end past the data
            return 0;
        p += s + 1;
    }
    return 0; // no terminator before the end
}

std::size_t GifBlockWalker::BlockLength(std::size_t pos) const
{
    // Lengths are measured in the remaining bytes only, so no sum can pass the data's end.
    const std::size_t left = pos < m_nSize ? m_nSize - pos : 0;
    auto withChain = [&](std::size_t fixed) -> std::size_t {
        if (fixed >= left)
            return 0;
        const std::size_t chain = ChainLength(pos + fixed);
        return chain ? fixed + chain : 0;
    };
    switch (KindAt(pos)) {
    case BlockKind::Application:
        return withChain(kApplicationFixed);
    case BlockKind::Comment:
        return withChain(2);
    case BlockKind::PlainText:
        return withChain(kPlainTextFixed);
    case BlockKind::GraphicControl:
        return kGraphicControlLength <= left ? kGraphicControlLength : 0;
    case BlockKind::Trailer:
        return 1;
    case BlockKind::Image: {
        if (kImageFixed > left)
            return 0;
        const std::uint8_t packed = m_pData[pos + 9];
        const std::size_t localTable = (packed & 0x80) ? (3u << ((packed & 0x07) + 1)) : 0;
        return withChain(kImageFixed + localTable);
    }
    case BlockKind::Unrecognised:
        break;
    }
    return 0;
}

bool GifBlockWalker::Advance()
{
    const std::size_t length = BlockLength(m_nPos);
    if (length == 0)
        return false;
    m_nPos += length;
    return true;
}

bool GifBlockWalker::WalkGroup(GifGroup& group)
{
    // Application and comment extensions (the looping extension, say) belong to no frame.
    for (;;) {
        const BlockKind kind = KindAt(m_nPos);
        if (kind == BlockKind::Application || kind == BlockKind::Comment) {
            if (!Advance())
                return false;
            continue;
        }
        if (kind != BlockKind::GraphicControl && kind != BlockKind::Image && kind != BlockKind::PlainText)
            return false;
        break;
    }

    GifGroup g;
    g.offset = m_nPos;
    if (KindAt(m_nPos) == BlockKind::GraphicControl) {
        if (BlockLength(m_nPos) == 0)
            return false;
        g.disposal = (m_pData[m_nPos + 3] >> 2) & 0x07;
        g.delay = Word(m_nPos + 4);
        Advance();
        // Whatever lies between the control extension and its image travels with the frame.
        for (;;) {
            const BlockKind kind = KindAt(m_nPos);
            if (kind == BlockKind::Image || kind == BlockKind::PlainText)
                break;
            if (kind == BlockKind::Unrecognised || kind == BlockKind::Trailer || !Advance())
                return false;
        }
    }

    // The block length check first, so that the descriptor fields below are inside the data.
    if (BlockLength(m_nPos) == 0)
        return false;
    if (KindAt(m_nPos) == BlockKind::Image) {
        g.endsInImage = true;
        g.left = Word(m_nPos + 1);
        g.top = Word(m_nPos + 3);
        g.width = Word(m_nPos + 5);
        g.height = Word(m_nPos + 7);
    } else {
        // A plain text extension has no image descriptor: its text grid is the closest thing.
        g.left = Word(m_nPos + 3);
        g.top = Word(m_nPos + 5);
        g.width = Word(m_nPos + 7);
        g.height = Word(m_nPos + 9);
    }
    Advance();
    g.length = m_nPos - g.offset;
    group = g;
    return true;
}

std::vector<GifGroup> GifBlockWalker::AllGroups()
{
    std::vector<GifGroup> groups;
    Rewind();
    GifGroup group;
    while (WalkGroup(group))
        groups.push_back(group);
    return groups;
}

std::vector<std::uint8_t> GifBlockWalker::AssembleFrame(const GifGroup& group) const
{
    const std::size_t header = HeaderSize();
    if (header > m_nSize || group.offset < header || group.offset > m_nSize
        || group.length > m_nSize - group.offset)
        return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(header + group.length + 1);
    frame.insert(frame.end(), m_pData, m_pData + header);
    frame.insert(frame.end(), m_pData + group.offset, m_pData + group.offset + group.length);
    frame.push_back(0x3B);
    return frame;
}

} // namespace gif
