// The picture control: still pictures, the animation thread, disposal and stopping.
#include "GifAnimatorBytes.h"

#include "common/TestSupport.h"
#include "platform/Resources.h"
#include "ui/CGifAnimator.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <mutex>

using namespace gifbytes;
using Event = CGifAnimator::CanvasEvent;

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// What the animation thread did to the canvas, in order.
struct Recorder {
    struct Step {
        Event event;
        int frame;
        QImage canvas;
    };
    mutable std::mutex mutex;
    std::vector<Step> steps;

    void Attach(CGifAnimator& animator)
    {
        animator.SetCanvasObserver([this](Event e, int frame, const QImage& canvas) {
            std::lock_guard lock(mutex);
            steps.push_back({e, frame, canvas.copy()});
        });
    }
    std::vector<Step> Snapshot() const
    {
        std::lock_guard lock(mutex);
        return steps;
    }
    std::size_t Count() const
    {
        std::lock_guard lock(mutex);
        return steps.size();
    }
};

bool Load(CGifAnimator& animator, const Bytes& data)
{
    return animator.LoadPicture(data.data(), data.size());
}

bool AllPixels(const QImage& image, const QRect& rect, QRgb colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != colour)
                return false;
    return true;
}

} // namespace

TEST(GifAnimator, FrameDisplayTimes)
{
    EXPECT_EQ(CGifAnimator::FrameDisplayMs(15), 150);
    for (int delay : {0, 1, 4})
        EXPECT_EQ(CGifAnimator::FrameDisplayMs(delay), 100) << delay;
    EXPECT_EQ(CGifAnimator::FrameDisplayMs(5), 50);
    // No graphic control extension: shown briefly, not for weeks.
    EXPECT_EQ(CGifAnimator::FrameDisplayMs(-1), 100);
    EXPECT_EQ(CGifAnimator::FrameDisplayMs(65535), 655350);
}

TEST(GifAnimator, LampsDrawOnceWithoutAThread)
{
    const struct {
        int id;
        QRgb expect; // dominant channel of the lamp's middle
    } lamps[] = {{146, kRed}, {147, kGreen}, {148, qRgb(255, 255, 0)}};
    for (const auto& lamp : lamps) {
        CGifAnimator animator;
        ASSERT_TRUE(animator.LoadResourcePicture(lamp.id, QStringLiteral("GIF"))) << lamp.id;
        EXPECT_TRUE(animator.IsGif());
        EXPECT_EQ(animator.PictureSize(), QSize(25, 25));
        EXPECT_EQ(animator.size(), QSize(25, 25));
        animator.ShowPicture();
        EXPECT_FALSE(animator.IsAnimating());
        const QImage canvas = animator.Canvas();
        // The corner is transparent in the picture, so it keeps the dialog's face colour.
        EXPECT_EQ(canvas.pixel(0, 0), animator.BackgroundColor().rgb()) << lamp.id;
        const QColor middle(canvas.pixel(14, 16));
        EXPECT_EQ(middle.red() > 150, qRed(lamp.expect) == 255) << lamp.id;
        EXPECT_EQ(middle.green() > 150, qGreen(lamp.expect) == 255) << lamp.id;
        EXPECT_LT(middle.blue(), 100) << lamp.id;
    }
}

TEST(GifAnimator, PaintHandlerCopiesTheCanvas)
{
    CGifAnimator animator;
    ASSERT_TRUE(animator.LoadResourcePicture(147, QStringLiteral("GIF")));
    animator.ShowPicture();
    const QImage shown = animator.grab().toImage();
    EXPECT_EQ(shown.pixel(14, 16), animator.Canvas().pixel(14, 16));
}

TEST(GifAnimator, BusyAnimationPlaysSevenFramesAndLoops)
{
    CGifAnimator animator;
    Recorder rec;
    rec.Attach(animator);
    ASSERT_TRUE(animator.LoadResourcePicture(138, QStringLiteral("GIF")));
    ASSERT_EQ(animator.FrameCount(), 7);
    EXPECT_EQ(animator.PictureSize(), QSize(32, 32));
    animator.ShowPicture();
    EXPECT_TRUE(animator.IsAnimating());
    animator.ShowPicture(); // no second thread
    // One full loop (7 frames of 150 ms) and the first frame of the next one.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return rec.Count() >= 7 * 2 + 2; }, 10000));
    animator.StopAnimation();
    EXPECT_FALSE(animator.IsAnimating());

    const auto steps = rec.Snapshot();
    const QImage blank = [&] {
        QImage i(32, 32, QImage::Format_ARGB32_Premultiplied);
        i.fill(animator.BackgroundColor());
        return i;
    }();
    for (int f = 0; f < 7; ++f) {
        const auto& drawn = steps[static_cast<std::size_t>(2 * f)];
        const auto& disposed = steps[static_cast<std::size_t>(2 * f + 1)];
        EXPECT_EQ(drawn.event, Event::Drawn);
        EXPECT_EQ(drawn.frame, f);
        EXPECT_NE(drawn.canvas, blank) << "frame " << f << " drew nothing";
        EXPECT_EQ(disposed.event, Event::Disposed);
        // Disposal 2 over the whole frame: wiped to the background after its delay.
        EXPECT_EQ(disposed.canvas, blank) << "frame " << f;
    }
    EXPECT_EQ(steps[14].event, Event::Wiped);
    EXPECT_EQ(steps[15].event, Event::Drawn);
    EXPECT_EQ(steps[15].frame, 0);
    EXPECT_EQ(steps[15].canvas, steps[0].canvas);
    EXPECT_NE(steps[0].canvas, steps[2].canvas); // the frames differ
}

TEST(GifAnimator, DisposalThreeRestoresTheCanvas)
{
    // A red screen, then a green square that is taken away again, then a blue corner.
    const Bytes data = Cat({Header(4, 4), Looping(),
                            Control(5, 1), Image(0, 0, 4, 4, 1),
                            Control(5, 3), Image(1, 1, 2, 2, 2),
                            Control(5, 1), Image(0, 0, 1, 1, 3), Trailer()});
    CGifAnimator animator;
    Recorder rec;
    rec.Attach(animator);
    ASSERT_TRUE(Load(animator, data));
    ASSERT_EQ(animator.FrameCount(), 3);
    animator.ShowPicture();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return rec.Count() >= 5; }));
    animator.StopAnimation();
    const auto steps = rec.Snapshot();
    ASSERT_EQ(steps[2].event, Event::Drawn);
    EXPECT_TRUE(AllPixels(steps[2].canvas, QRect(1, 1, 2, 2), kGreen));
    EXPECT_EQ(steps[2].canvas.pixel(0, 0), kRed);
    ASSERT_EQ(steps[3].event, Event::Disposed);
    EXPECT_EQ(steps[3].canvas, steps[1].canvas); // as before the green square
    EXPECT_TRUE(AllPixels(steps[3].canvas, QRect(0, 0, 4, 4), kRed));
    ASSERT_EQ(steps[4].event, Event::Drawn);
    EXPECT_EQ(steps[4].canvas.pixel(0, 0), kBlue);
    EXPECT_EQ(steps[4].canvas.pixel(3, 3), kRed);
}

TEST(GifAnimator, StopDuringALongDelayReturnsAtOnceAndShowResumes)
{
    const Bytes data = Cat({Header(2, 2), Control(5, 0), Image(0, 0, 2, 2, 1),
                            Control(1000, 2), Image(0, 0, 2, 2, 2), Trailer()});
    CGifAnimator animator;
    Recorder rec;
    rec.Attach(animator);
    ASSERT_TRUE(Load(animator, data));
    animator.ShowPicture();
    // Frame 1 is up and waits out its 10 seconds.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return rec.Count() >= 3; }));
    QElapsedTimer timer;
    timer.start();
    animator.StopAnimation();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(animator.IsAnimating());
    EXPECT_EQ(animator.CurrentFrame(), 1);
    EXPECT_TRUE(AllPixels(animator.Canvas(), QRect(0, 0, 2, 2), kGreen));

    // Shown again: frame 1 is tidied away (disposal 2) and drawn anew, not frame 0.
    const std::size_t before = rec.Count();
    animator.ShowPicture();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return rec.Count() > before; }));
    animator.StopAnimation();
    const auto steps = rec.Snapshot();
    EXPECT_EQ(steps[before].event, Event::Drawn);
    EXPECT_EQ(steps[before].frame, 1);
}

TEST(GifAnimator, TruncatedAnimationKeepsTheFramesFoundBefore)
{
    Bytes data = Cat({Header(2, 2), Control(5, 2), Image(0, 0, 2, 2, 1),
                      Control(5, 2), Image(0, 0, 2, 2, 2), Control(5, 2), Image(0, 0, 2, 2, 3)});
    data.resize(data.size() - 3);
    CGifAnimator animator;
    ASSERT_TRUE(Load(animator, data));
    EXPECT_EQ(animator.FrameCount(), 2);
}

TEST(GifAnimator, UnknownVersionIsNoGif)
{
    const Bytes animated = Cat({Header(2, 2), Control(5, 2), Image(0, 0, 2, 2, 1),
                                Control(5, 2), Image(0, 0, 2, 2, 2), Trailer()});
    CGifAnimator animator;
    ASSERT_TRUE(Load(animator, animated));
    EXPECT_EQ(animator.FrameCount(), 2);

    // The same bytes with another version go whole to the still-picture decoder, which knows
    // no such format: nothing to show, and no frames taken.
    Bytes other = animated;
    other[4] = '8';
    EXPECT_FALSE(Load(animator, other));
    EXPECT_FALSE(animator.IsGif());
    EXPECT_FALSE(animator.IsPrepared());
    EXPECT_EQ(animator.FrameCount(), 0);
    animator.ShowPicture(); // does nothing
    EXPECT_FALSE(animator.IsAnimating());
}

TEST(GifAnimator, OtherPicturesAreStills)
{
    CGifAnimator animator;
    const QByteArray png = platform::LoadResource(135, QStringLiteral("BITMAP"));
    ASSERT_FALSE(png.isEmpty());
    ASSERT_TRUE(animator.LoadPicture(png.constData(), static_cast<std::size_t>(png.size())));
    EXPECT_FALSE(animator.IsGif());
    EXPECT_EQ(animator.PictureSize(), QSize(57, 20));
    animator.ShowPicture();
    EXPECT_FALSE(animator.IsAnimating());
    EXPECT_EQ(animator.Canvas().pixel(0, 0), qRgb(255, 255, 255));
}

TEST(GifAnimator, FailedLoadsLeaveTheControlEmpty)
{
    CGifAnimator animator;
    ASSERT_TRUE(animator.LoadResourcePicture(146, QStringLiteral("GIF")));
    EXPECT_FALSE(animator.LoadResourcePicture(999, QStringLiteral("GIF")));
    EXPECT_FALSE(animator.IsPrepared());
    EXPECT_TRUE(animator.Canvas().isNull());
    const Bytes noGroups = Cat({Header(2, 2), Looping(), Trailer()});
    EXPECT_FALSE(Load(animator, noGroups));
    EXPECT_FALSE(animator.IsPrepared());
    const Bytes garbage = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
    EXPECT_FALSE(Load(animator, garbage));
    EXPECT_FALSE(animator.LoadPicture(nullptr, 0));
}

TEST(GifAnimator, NewPictureStopsTheRunningAnimation)
{
    CGifAnimator animator;
    ASSERT_TRUE(animator.LoadResourcePicture(138, QStringLiteral("GIF")));
    animator.ShowPicture();
    ASSERT_TRUE(animator.IsAnimating());
    ASSERT_TRUE(animator.LoadResourcePicture(148, QStringLiteral("GIF")));
    EXPECT_FALSE(animator.IsAnimating());
    EXPECT_EQ(animator.CurrentFrame(), 0);
    animator.ShowPicture();
    EXPECT_FALSE(animator.IsAnimating());
}
