#pragma once
#include <QByteArray>
#include <QJsonValue>
#include <QString>

namespace unitsim {

// A value a unit serves: a constant number, a constant text, or a number that moves as a slow
// wave around a base, so that a collection run shows changing readings.
//   5                                                   constant number
//   "Temperature"                                       constant text
//   {"base": 215, "amplitude": 20, "periodSeconds": 60} base + amplitude * sin(2 pi t / period)
//   {"hex": "636166e9"}                                 a text of any bytes
class SimValue {
public:
    enum class Kind { Number, Text, Wave };

    static SimValue Number(int value);
    static SimValue Text(const QByteArray& text);
    // Reads a value from the description; throws DescriptionError naming path on a bad value.
    static SimValue FromJson(const QJsonValue& json, const QString& path);

    Kind GetKind() const { return m_kind; }
    bool IsText() const { return m_kind == Kind::Text; }
    // The number at secondsSinceStart (rounded to the nearest whole number); 0 for a text.
    int NumberAt(double secondsSinceStart) const;
    // The text bytes (UTF-8 as written in the description).
    const QByteArray& TextBytes() const { return m_text; }

private:
    Kind m_kind = Kind::Number;
    int m_base = 0;
    double m_amplitude = 0;
    double m_periodSeconds = 60;
    QByteArray m_text;
};

} // namespace unitsim
