#pragma once
// A picture control that shows a still picture or plays an animated GIF from the resources:
// the main dialog's status lamp and the Generate OID dialog's busy indicator.
//
// The animation runs on a thread of its own that draws into an off-screen canvas; the paint
// handler copies the canvas under the same mutex, and the thread asks for repaints through
// queued calls, so it never touches the widget itself.

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CGifAnimator : public QWidget {
    Q_OBJECT
public:
    explicit CGifAnimator(QWidget* parent = nullptr);
    ~CGifAnimator() override;

    // Loads resource resourceId of resourceType (callers pass "GIF"); false when it is missing
    // or cannot be shown.
    bool LoadResourcePicture(int resourceId, const QString& resourceType);
    // Clears the previous picture, decodes the data (GIF frames, or any still picture Qt reads)
    // and prepares the canvas. True when something can be shown.
    bool LoadPicture(const void* memory, std::size_t size);
    // Starts the animation of a picture with two or more frames (once: a running animation is
    // left alone); otherwise draws the still picture. Does nothing before a successful load.
    void ShowPicture();
    // Ends the animation thread, at once even in the middle of a long frame delay. The current
    // frame is kept, so the next ShowPicture resumes there.
    void StopAnimation();
    // Stops, and forgets the picture, its frames and the canvas.
    void ClearPicture();

    bool IsPrepared() const { return m_bPrepared; }
    bool IsGif() const { return m_bIsGif; }
    bool IsAnimating() const { return m_thread.joinable(); }
    int FrameCount() const { return static_cast<int>(m_frames.size()); }
    int CurrentFrame() const { return m_iFrame.load(); }
    QSize PictureSize() const { return m_pictureSize; }
    QColor BackgroundColor() const { return m_colorBackground; }
    // A copy of the canvas as it is now (null when not prepared).
    QImage Canvas() const;

    // How long a frame stays up: delays under 5 hundredths, and frames without a delay, 100 ms.
    static int FrameDisplayMs(int delay);

    // Tests and diagnostics: told on the animation thread, with the canvas lock held, after each
    // draw, disposal and end-of-loop wipe. Set it before ShowPicture.
    enum class CanvasEvent { Drawn, Disposed, Wiped };
    using CanvasObserver = std::function<void(CanvasEvent event, int frame, const QImage& canvas)>;
    void SetCanvasObserver(CanvasObserver observer) { m_observer = std::move(observer); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Frame {
        QImage image; // the frame's own pixels, width x height
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        int delay = -1;
        int disposal = 0;
    };

    bool LoadGif(const std::uint8_t* data, std::size_t size);
    bool PrepareCanvas(const QSize& size);
    void AnimationThreadProc();
    // Waits on the stop event for ms; true when a stop was requested.
    bool WaitForStop(int ms);
    // Canvas operations; the caller holds m_canvasMutex.
    void FillLocked(const QRect& rect);
    void DisposeLocked(const Frame& frame);
    void NotifyLocked(CanvasEvent event, int frame);
    void RequestRepaint();

    std::vector<Frame> m_frames;
    QImage m_picture;      // the still picture
    QSize m_pictureSize;   // logical screen size, or the still picture's size
    bool m_bPrepared = false;
    bool m_bIsGif = false;
    std::atomic<int> m_iFrame{0};
    QColor m_colorBackground;

    mutable std::mutex m_canvasMutex; // guards m_canvas and m_savedBackground
    QImage m_canvas;
    QImage m_savedBackground; // the area under a disposal-3 frame, null when none

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    // The stop event: manual reset, doubling as the frame timer.
    std::mutex m_stopMutex;
    std::condition_variable m_stopEvent;
    bool m_bStopSignalled = false;

    CanvasObserver m_observer;
};
