#include "ui/CGifAnimator.h"

#include "platform/Resources.h"
#include "ui/GifBlockWalker.h"

#include <QByteArray>
#include <QMetaObject>
#include <QPainter>

#include <chrono>

CGifAnimator::CGifAnimator(QWidget* parent) : QWidget(parent)
{
    // The canvas covers the whole control; nothing underneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CGifAnimator::~CGifAnimator()
{
    ClearPicture();
}

bool CGifAnimator::LoadResourcePicture(int resourceId, const QString& resourceType)
{
    const QByteArray bytes = platform::LoadResource(resourceId, resourceType);
    if (bytes.isEmpty()) {
        ClearPicture(); // a failed load leaves the control empty, whatever it showed before
        return false;
    }
    return LoadPicture(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool CGifAnimator::LoadPicture(const void* memory, std::size_t size)
{
    ClearPicture();
    if (!memory || size == 0)
        return false;
    const auto* data = static_cast<const std::uint8_t*>(memory);
    if (gif::GifBlockWalker::IsGif(data, size)) {
        m_bIsGif = true;
        if (LoadGif(data, size))
            return true;
        ClearPicture();
        return false;
    }
    // Any other picture is one still image; Qt reports its size in pixels already.
    m_picture = QImage::fromData(QByteArray::fromRawData(static_cast<const char*>(memory),
                                                         static_cast<qsizetype>(size)));
    if (m_picture.isNull() || !PrepareCanvas(m_picture.size())) {
        ClearPicture();
        return false;
    }
    m_pictureSize = m_picture.size();
    return true;
}

bool CGifAnimator::LoadGif(const std::uint8_t* data, std::size_t size)
{
    gif::GifBlockWalker walker(data, size);
    const std::vector<gif::GifGroup> groups = walker.AllGroups();
    if (groups.empty())
        return false;
    const QSize screen(walker.ScreenWidth(), walker.ScreenHeight());

    if (groups.size() == 1) {
        m_picture = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                             static_cast<qsizetype>(size)), "GIF");
        if (m_picture.isNull() || !PrepareCanvas(screen))
            return false;
        m_pictureSize = screen;
        return true;
    }

    for (const gif::GifGroup& group : groups) {
        const std::vector<std::uint8_t> bytes = walker.AssembleFrame(group);
        QImage decoded = QImage::fromData(
            QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<qsizetype>(bytes.size())), "GIF");
        if (decoded.isNull())
            continue; // an undecodable frame is dropped, the next one taken
        Frame frame;
        frame.left = group.left;
        frame.top = group.top;
        frame.width = group.width;
        frame.height = group.height;
        frame.delay = group.delay;
        frame.disposal = group.disposal;
        // Qt's reader renders the frame onto the whole logical screen; keep the frame's own
        // rectangle, which the animation draws at (left, top).
        const QRect rect(frame.left, frame.top, frame.width, frame.height);
        if (decoded.size() != rect.size() && QRect(QPoint(0, 0), decoded.size()).contains(rect))
            decoded = decoded.copy(rect);
        frame.image = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        m_frames.push_back(std::move(frame));
    }
    if (m_frames.empty() || !PrepareCanvas(screen))
        return false;
    m_pictureSize = screen;
    return true;
}

bool CGifAnimator::PrepareCanvas(const QSize& size)
{
    if (size.isEmpty())
        return false;
    resize(size); // keeps the control's position
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return false;
    // The dialog's own face colour, so that transparent pixels blend with the window.
    const QColor face = palette().color(QPalette::Window);
    canvas.fill(face);
    m_colorBackground = face;
    {
        std::lock_guard lock(m_canvasMutex);
        m_canvas = std::move(canvas);
    }
    m_bPrepared = true;
    return true;
}

void CGifAnimator::ShowPicture()
{
    if (!m_bPrepared)
        return;
    if (m_frames.size() >= 2) {
        if (m_thread.joinable())
            return;
        m_thread = std::thread([this] { AnimationThreadProc(); });
        return;
    }
    if (m_picture.isNull())
        return;
    {
        std::lock_guard lock(m_canvasMutex);
        QPainter painter(&m_canvas);
        painter.drawImage(QRect(QPoint(0, 0), m_pictureSize), m_picture);
    }
    update();
}

void CGifAnimator::StopAnimation()
{
    if (!m_thread.joinable())
        return;
    m_bStop = true;
    {
        std::lock_guard lock(m_stopMutex);
        m_bStopSignalled = true;
    }
    m_stopEvent.notify_all();
    // The thread only waits on the stop event or, briefly, on the canvas lock: it ends at once.
    m_thread.join();
    std::lock_guard lock(m_stopMutex);
    m_bStopSignalled = false;
    m_bStop = false;
}

void CGifAnimator::ClearPicture()
{
    StopAnimation();
    m_picture = QImage();
    m_frames.clear();
    {
        std::lock_guard lock(m_canvasMutex);
        m_canvas = QImage();
        m_savedBackground = QImage();
    }
    m_pictureSize = QSize();
    m_iFrame = 0;
    m_bPrepared = false;
    m_bIsGif = false;
}

QImage CGifAnimator::Canvas() const
{
    std::lock_guard lock(m_canvasMutex);
    return m_canvas.copy();
}

int CGifAnimator::FrameDisplayMs(int delay)
{
    // A frame without a graphic control extension (delay -1) would otherwise stay up for weeks
    // (the unsigned reading of -1); it is shown as briefly as the shortest delays instead.
    if (delay < 5)
        return 100;
    return delay * 10;
}

void CGifAnimator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    std::lock_guard lock(m_canvasMutex);
    if (m_canvas.isNull()) {
        painter.fillRect(rect(), palette().color(QPalette::Window));
        return;
    }
    painter.drawImage(QRect(QPoint(0, 0), m_canvas.size()), m_canvas);
}

bool CGifAnimator::WaitForStop(int ms)
{
    std::unique_lock lock(m_stopMutex);
    return m_stopEvent.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bStopSignalled; });
}

void CGifAnimator::FillLocked(const QRect& rect)
{
    QPainter painter(&m_canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, m_colorBackground);
}

void CGifAnimator::DisposeLocked(const Frame& frame)
{
    const QRect rect(frame.left, frame.top, frame.width, frame.height);
    if (frame.disposal == 2) {
        FillLocked(rect);
    } else if (frame.disposal == 3 && !m_savedBackground.isNull()) {
        QPainter painter(&m_canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(rect.topLeft(), m_savedBackground);
        painter.end();
        m_savedBackground = QImage();
    }
}

void CGifAnimator::NotifyLocked(CanvasEvent event, int frame)
{
    if (m_observer)
        m_observer(event, frame, m_canvas);
}

void CGifAnimator::RequestRepaint()
{
    // Queued to the widget's thread; dropped by Qt if the widget is gone by then.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void CGifAnimator::AnimationThreadProc()
{
    const int count = static_cast<int>(m_frames.size());
    int i = m_iFrame.load();
    if (i < 0 || i >= count)
        i = 0;
    {
        // Resuming after a stop: the frame we stopped on may still be on the canvas.
        std::lock_guard lock(m_canvasMutex);
        const Frame& current = m_frames[static_cast<std::size_t>(i)];
        if (current.disposal == 2 || (current.disposal == 3 && !m_savedBackground.isNull()))
            DisposeLocked(current);
    }
    while (!m_bStop) {
        const Frame& frame = m_frames[static_cast<std::size_t>(i)];
        m_iFrame = i;
        if (!frame.image.isNull()) {
            std::lock_guard lock(m_canvasMutex);
            const QRect rect(frame.left, frame.top, frame.width, frame.height);
            if (frame.disposal == 3)
                m_savedBackground = m_canvas.copy(rect);
            QPainter painter(&m_canvas);
            painter.drawImage(rect, frame.image);
            painter.end();
            NotifyLocked(CanvasEvent::Drawn, i);
            RequestRepaint();
        }
        if (m_bStop || WaitForStop(FrameDisplayMs(frame.delay)) || m_bStop)
            break;
        {
            std::lock_guard lock(m_canvasMutex);
            DisposeLocked(frame);
            NotifyLocked(CanvasEvent::Disposed, i);
        }
        if (++i >= count) {
            i = 0;
            std::lock_guard lock(m_canvasMutex);
            FillLocked(QRect(QPoint(0, 0), m_pictureSize));
            NotifyLocked(CanvasEvent::Wiped, i);
        }
        m_iFrame = i;
    }
}
