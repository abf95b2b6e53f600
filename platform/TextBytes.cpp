#include "platform/TextBytes.h"

#include <QStringDecoder>

namespace platform {

QString TextFromBytes(const std::string& bytes)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (utf8.hasError())
        text = QString::fromLatin1(view);
    text.replace(QChar(0), QChar(0x2400));
    return text;
}

std::string BytesFromText(const QString& text)
{
    return text.toUtf8().toStdString();
}

namespace {
bool IsEscapedByte(const QString& text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}
} // namespace

QString EscapedText(const std::string& bytes)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    text.clear();
    for (const char byte : view) {
        const auto b = static_cast<unsigned char>(byte);
        text += b < 0x80 ? QChar(b) : QChar(char16_t(0xDC00 | b));
    }
    return text;
}

QString ShownPath(const QString& escaped)
{
    return TextFromBytes(EscapedBytes(escaped));
}

std::string EscapedBytes(const QString& text)
{
    std::string bytes;
    qsizetype i = 0;
    while (i < text.size()) {
        if (IsEscapedByte(text, i)) {
            bytes += static_cast<char>(text[i++].unicode() & 0xFF);
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !IsEscapedByte(text, i))
            ++i;
        bytes += text.mid(start, i - start).toUtf8().toStdString();
    }
    return bytes;
}

} // namespace platform
