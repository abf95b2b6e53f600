#include "app/CIpAddressCtrl.h"

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
    QStringList fields = text().split(QLatin1Char('.'));
    while (fields.size() < kFields)
        fields << QString();
    QStringList out;
    for (int i = 0; i < kFields; ++i)
        out << QString::number(fields[i].toInt()); // blank reads as 0, "010" as 10
    return out.join(QLatin1Char('.'));
}

void CIpAddressCtrl::SetAddressText(const QString& text)
{
    QString candidate = text.trimmed();
    int pos = 0;
    if (validator()->validate(candidate, pos) == QValidator::Acceptable)
        setText(candidate);
    else
        clear();
}
