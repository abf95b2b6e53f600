#include "tools/unitsim/SimValue.h"

#include "tools/unitsim/DescriptionError.h"
#include "tools/unitsim/JsonReader.h"

#include <cmath>
#include <numbers>

namespace unitsim {

SimValue SimValue::Number(int value)
{
    SimValue v;
    v.m_kind = Kind::Number;
    v.m_base = value;
    return v;
}

SimValue SimValue::Text(const QByteArray& text)
{
    SimValue v;
    v.m_kind = Kind::Text;
    v.m_text = text;
    return v;
}

SimValue SimValue::FromJson(const QJsonValue& json, const QString& path)
{
    if (json.isString())
        return Text(json.toString().toUtf8());
    if (json.isDouble()) {
        const auto n = JsonInt(json);
        if (!n)
            throw DescriptionError(path, "must be a whole number between -2147483648 and 2147483647");
        return Number(*n);
    }
    if (json.isObject() && json.toObject().contains("hex")) {
        // Bytes that JSON text cannot carry (texts of a unit that are not UTF-8).
        const JsonReader bytes(json.toObject(), path);
        bytes.RejectUnknownKeys({"hex"});
        const QByteArray hex = bytes.String("hex").toLatin1();
        const QByteArray text = QByteArray::fromHex(hex);
        if (text.toHex() != hex.toLower())
            bytes.Fail("hex", "must be pairs of hexadecimal digits");
        return Text(text);
    }
    if (json.isObject()) {
        const JsonReader wave(json.toObject(), path);
        wave.RejectUnknownKeys({"base", "amplitude", "periodSeconds"});
        SimValue v;
        v.m_kind = Kind::Wave;
        v.m_base = wave.Int("base");
        v.m_amplitude = wave.Double("amplitude", 0.0, 0.0, 1e9);
        v.m_periodSeconds = wave.Double("periodSeconds", 60.0, 0.001, 1e9);
        return v;
    }
    throw DescriptionError(path, "must be a number, a text, or {\"base\", \"amplitude\", \"periodSeconds\"}");
}

int SimValue::NumberAt(double secondsSinceStart) const
{
    switch (m_kind) {
    case Kind::Number:
        return m_base;
    case Kind::Text:
        return 0;
    case Kind::Wave:
        break;
    }
    const double x =
        m_base + m_amplitude * std::sin(2 * std::numbers::pi * secondsSinceStart / m_periodSeconds);
    const double r = std::round(x);
    if (r >= 2147483647.0)
        return 2147483647;
    if (r <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<int>(r);
}

} // namespace unitsim
