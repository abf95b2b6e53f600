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

} // namespace platform
