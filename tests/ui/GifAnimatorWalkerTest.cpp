// The GIF block walk on raw bytes: which groups a file holds and what each frame's image is.
#include "GifAnimatorBytes.h"

#include "ui/GifBlockWalker.h"

#include <gtest/gtest.h>

using namespace gifbytes;
using gif::GifBlockWalker;
using gif::GifGroup;

namespace {

std::vector<GifGroup> Groups(const Bytes& data)
{
    GifBlockWalker walker(data.data(), data.size());
    return walker.AllGroups();
}

Bytes Slice(const Bytes& data, std::size_t offset, std::size_t length)
{
    return Bytes(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + length));
}

} // namespace

TEST(GifWalker, LoopingAndCommentExtensionsBeforeTheFirstFrameAreNoFrames)
{
    const Bytes data = Cat({Header(8, 8), Looping(), Comment("made by hand"),
                            Control(15, 2), Image(0, 0, 8, 8, 1),
                            Control(20, 3), Image(2, 1, 4, 5, 2), Trailer()});
    const auto groups = Groups(data);
    ASSERT_EQ(groups.size(), 2u);
    const std::size_t firstControl = Header(8, 8).size() + Looping().size() + Comment("made by hand").size();
    EXPECT_EQ(groups[0].offset, firstControl);
    EXPECT_EQ(groups[0].length, Control(15, 2).size() + Image(0, 0, 8, 8, 1).size());
    EXPECT_EQ(groups[0].delay, 15);
    EXPECT_EQ(groups[0].disposal, 2);
    EXPECT_EQ(groups[1].delay, 20);
    EXPECT_EQ(groups[1].disposal, 3);
    EXPECT_EQ((std::vector<int>{groups[1].left, groups[1].top, groups[1].width, groups[1].height}),
              (std::vector<int>{2, 1, 4, 5}));
    EXPECT_TRUE(groups[1].endsInImage);
}

TEST(GifWalker, BlocksBetweenControlAndImageTravelWithTheFrame)
{
    const Bytes between = Cat({Comment("inside"), Looping()});
    const Bytes group = Cat({Control(7, 1), between, Image(0, 0, 2, 2, 3)});
    const Bytes data = Cat({Header(2, 2), group, Control(7, 1), Image(0, 0, 2, 2, 1), Trailer()});
    GifBlockWalker walker(data.data(), data.size());
    const auto groups = walker.AllGroups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].length, group.size());
    // The frame is header + global table, the group's bytes as they stand, and a trailer.
    EXPECT_EQ(walker.AssembleFrame(groups[0]), Cat({Header(2, 2), group, Trailer()}));
}

TEST(GifWalker, OnlyGif87aAndGif89aAreWalked)
{
    const Bytes body = Cat({Word(1), Word(1), {0, 0, 0}});
    const struct {
        std::string start;
        bool gif;
    } cases[] = {{"GIF89a", true}, {"GIF87a", true}, {"GIF88a", false}, {"GIF89b", false},
                 {"gif89a", false}, {"GIF8", false}, {"", false}, {"\x89PNG\r\n", false}};
    for (const auto& c : cases) {
        Bytes data(c.start.begin(), c.start.end());
        if (c.start.size() == 6)
            Append(data, body);
        EXPECT_EQ(GifBlockWalker::IsGif(data.data(), data.size()), c.gif) << c.start;
    }
    EXPECT_FALSE(GifBlockWalker::IsGif(nullptr, 100));
}

TEST(GifWalker, DataRunningPastTheEndKeepsTheGroupsFoundBefore)
{
    const Bytes whole = Cat({Header(4, 4), Control(5, 0), Image(0, 0, 4, 4, 1),
                             Control(5, 0), Image(0, 0, 4, 4, 2), Control(5, 0), Image(0, 0, 4, 4, 3)});
    const std::size_t twoGroups = Header(4, 4).size() + 2 * (Control(5, 0).size() + Image(0, 0, 4, 4, 1).size());
    // Cut anywhere inside the third group: exactly two groups remain, never a read past the end.
    for (std::size_t cut = twoGroups; cut < whole.size(); ++cut) {
        const Bytes data = Slice(whole, 0, cut);
        EXPECT_EQ(Groups(data).size(), 2u) << "cut at " << cut;
    }
    EXPECT_EQ(Groups(whole).size(), 3u); // no trailer needed for the last group
}

TEST(GifWalker, MalformedBlocksEndTheWalkWithoutReadingPastTheData)
{
    const Bytes h = Header(4, 4);
    const Bytes frame = Cat({Control(5, 0), Image(0, 0, 4, 4, 1)});
    const struct {
        const char* name;
        Bytes data;
        std::size_t groups;
    } cases[] = {
        {"empty", {}, 0},
        {"header only", h, 0},
        {"screen descriptor cut short", Slice(h, 0, 12), 0},
        {"global table promised, missing", Cat({{'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x87, 0, 0}, frame}), 0},
        {"trailer first", Cat({h, Trailer(), frame}), 0},
        {"unknown block", Cat({h, frame, {0x00}, frame}), 1},
        {"unknown extension", Cat({h, frame, {0x21, 0x99, 0x00}, frame}), 1},
        {"extension byte at the very end", Cat({h, frame, {0x21}}), 1},
        {"control extension cut short", Cat({h, frame, Slice(Control(5, 0), 0, 7)}), 1},
        {"control followed by trailer", Cat({h, frame, Control(5, 0), Trailer()}), 1},
        {"control followed by garbage", Cat({h, frame, Control(5, 0), {0x77}, Image(0, 0, 4, 4, 1)}), 1},
        {"huge sub-block size", Cat({h, frame, Control(5, 0), Slice(Image(0, 0, 4, 4, 1), 0, 11), {0xFF, 1, 2, 3}}), 1},
        {"chain without terminator", Cat({h, frame, {0x21, 0xFE, 3, 'a', 'b', 'c'}}), 1},
        {"comment chain cut", Cat({h, frame, {0x21, 0xFE, 0x20, 'x'}}), 1},
        {"application extension cut in its fixed part", Cat({h, frame, Slice(Looping(), 0, 10)}), 1},
        {"image descriptor cut", Cat({h, frame, Slice(Image(0, 0, 4, 4, 1), 0, 9)}), 1},
        {"local table promised, missing", Cat({h, frame, {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0x87, 2, 1, 0, 0}}), 1},
        {"image without control extension", Cat({h, Image(0, 0, 4, 4, 1), Image(0, 0, 4, 4, 2), Trailer()}), 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Groups(c.data).size(), c.groups) << c.name;
}

TEST(GifWalker, FrameWithoutControlExtensionHasNoDelay)
{
    const Bytes data = Cat({Header(4, 4), Image(1, 2, 3, 2, 1), Trailer()});
    const auto groups = Groups(data);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].delay, -1);
    EXPECT_EQ(groups[0].disposal, 0);
    EXPECT_EQ(groups[0].length, Image(1, 2, 3, 2, 1).size());
}

TEST(GifWalker, LocalColourTableIsPartOfTheImageBlock)
{
    Bytes image = Image(0, 0, 2, 2, 1);
    image[9] = 0x80; // local table of 2 entries, 6 bytes, before the code size byte
    image.insert(image.begin() + 10, {9, 9, 9, 8, 8, 8});
    const Bytes data = Cat({Header(2, 2), Control(4, 0), image, Control(4, 0), Image(0, 0, 2, 2, 2)});
    const auto groups = Groups(data);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].length, Control(4, 0).size() + image.size());
}

TEST(GifWalker, PlainTextExtensionEndsAGroupWithItsTextGrid)
{
    const Bytes text = Cat({{0x21, 0x01, 0x0C}, Word(3), Word(4), Word(40), Word(16), {8, 16, 1, 0}, Chain("Hi")});
    const Bytes data = Cat({Header(64, 32), Control(10, 1), text, Control(10, 1), Image(0, 0, 64, 32, 1), Trailer()});
    const auto groups = Groups(data);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_FALSE(groups[0].endsInImage);
    EXPECT_EQ((std::vector<int>{groups[0].left, groups[0].top, groups[0].width, groups[0].height}),
              (std::vector<int>{3, 4, 40, 16}));
    EXPECT_EQ(groups[0].length, Control(10, 1).size() + text.size());
}

TEST(GifWalker, FramesAreNotAssembledFromGroupsOutsideTheData)
{
    const Bytes data = Cat({Header(2, 2), Control(4, 0), Image(0, 0, 2, 2, 1)});
    GifBlockWalker walker(data.data(), data.size());
    GifGroup bogus;
    bogus.offset = data.size() - 2;
    bogus.length = 10;
    EXPECT_TRUE(walker.AssembleFrame(bogus).empty());
    bogus.offset = 2; // inside the header
    bogus.length = 1;
    EXPECT_TRUE(walker.AssembleFrame(bogus).empty());
}
