// libFuzzer target for the GIF block walk: any bytes, no read outside them, and every group and
// assembled frame consistent with the data it came from.
#include "ui/GifBlockWalker.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The walker is handed exactly these bytes; a copy of the right size lets the sanitizer
    // catch a read even one byte past the end.
    std::uint8_t* copy = static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
    if (size)
        std::memcpy(copy, data, size);
    gif::GifBlockWalker::IsGif(copy, size);
    gif::GifBlockWalker walker(copy, size);
    std::size_t end = walker.HeaderSize();
    for (const gif::GifGroup& group : walker.AllGroups()) {
        if (group.offset < end || group.length == 0 || group.length > size - group.offset)
            std::abort();
        end = group.offset + group.length;
        const auto frame = walker.AssembleFrame(group);
        if (frame.size() != walker.HeaderSize() + group.length + 1 || frame.back() != 0x3B
            || std::memcmp(frame.data() + walker.HeaderSize(), copy + group.offset, group.length) != 0)
            std::abort();
        if (group.disposal < 0 || group.disposal > 7 || group.delay < -1 || group.delay > 65535)
            std::abort();
    }
    std::free(copy);
    return 0;
}
