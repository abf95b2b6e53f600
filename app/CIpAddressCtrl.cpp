#include "app/CIpAddressCtrl.h"

#include "platform/Ipv4Address.h"

#include <QStringList>
#include <QValidator>

namespace {
constexpr int kFields = 4;

// Accepts the keystrokes that keep the text a prefix of a dotted address.
class CIpAddressValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        const QStringList fields = input.split(QLatin1Char('.'));
        if (fields.size() > kFields)
            return Invalid;
        bool complete = fields.size() == kFields;
        for (const QString& field : fields) {
            if (field.isEmpty()) {
                complete = false;
                continue;
            }
            if (field.size() > 3)
                return Invalid;
            for (const QChar c : field) {
                if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                    return Invalid;
            }
            if (field.toInt() > 255)
                return Invalid;
        }
        return complete ? Acceptable : Intermediate;
    }
};
} // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new CIpAddressValidator(this));
}

QString CIpAddressCtrl::GetAddressText() const
{
    // Blank fields read as 0; the fields are then read as every front end reads an address
    // ("010" is ten).
    QStringList fields = text().split(QLatin1Char('.'));
    while (fields.size() < kFields)
        fields << QString();
    for (QString& field : fields) {
        if (field.isEmpty())
            field = QStringLiteral("0");
    }
    const std::optional<std::string> address = platform::CanonicalIPv4Address(fields.join(QLatin1Char('.')).toStdString());
    return address ? QString::fromStdString(*address) : QStringLiteral("0.0.0.0");
}

void CIpAddressCtrl::SetAddressText(const QString& text)
{
    const QString candidate = text.trimmed();
    if (platform::CanonicalIPv4Address(candidate.toStdString()))
        setText(candidate);
    else
        clear();
}
