#include "tools/unitsim/JsonReader.h"

#include "tools/unitsim/DescriptionError.h"

#include <cmath>

namespace unitsim {

std::optional<int> JsonInt(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (std::floor(d) != d || d < INT_MIN || d > INT_MAX)
        return std::nullopt;
    return static_cast<int>(d);
}

JsonReader::JsonReader(QJsonObject object, QString path) : m_object(std::move(object)), m_path(std::move(path)) {}

QString JsonReader::KeyPath(const QString& key) const
{
    return m_path.isEmpty() ? key : m_path + "." + key;
}

void JsonReader::Fail(const QString& key, const QString& problem) const
{
    throw DescriptionError(key.isEmpty() ? m_path : KeyPath(key), problem);
}

bool JsonReader::Absent(const QString& key, bool hasFallback) const
{
    if (m_object.contains(key))
        return false;
    if (!hasFallback)
        Fail(key, "is missing");
    return true;
}

QJsonValue JsonReader::Required(const QString& key) const
{
    if (!m_object.contains(key))
        Fail(key, "is missing");
    return m_object.value(key);
}

int JsonReader::Int(const QString& key, std::optional<int> fallback, int min, int max) const
{
    if (Absent(key, fallback.has_value()))
        return *fallback;
    const auto value = JsonInt(m_object.value(key));
    if (!value)
        Fail(key, "must be a whole number");
    if (*value < min || *value > max)
        Fail(key, QString::asprintf("must be between %d and %d, not %d", min, max, *value));
    return *value;
}

double JsonReader::Double(const QString& key, std::optional<double> fallback, double min, double max) const
{
    if (Absent(key, fallback.has_value()))
        return *fallback;
    const QJsonValue value = m_object.value(key);
    if (!value.isDouble())
        Fail(key, "must be a number");
    const double d = value.toDouble();
    if (d < min || d > max)
        Fail(key, QString::asprintf("must be between %g and %g, not %g", min, max, d));
    return d;
}

bool JsonReader::Bool(const QString& key, bool fallback) const
{
    if (!m_object.contains(key))
        return fallback;
    const QJsonValue value = m_object.value(key);
    if (!value.isBool())
        Fail(key, "must be true or false");
    return value.toBool();
}

QString JsonReader::String(const QString& key, std::optional<QString> fallback) const
{
    if (Absent(key, fallback.has_value()))
        return *fallback;
    const QJsonValue value = m_object.value(key);
    if (!value.isString())
        Fail(key, "must be a text in double quotes");
    return value.toString();
}

QString JsonReader::Choice(const QString& key, const QStringList& words, const QString& fallback) const
{
    const QString word = String(key, fallback);
    if (!words.contains(word))
        Fail(key, QString("must be one of \"%1\", not \"%2\"").arg(words.join("\", \""), word));
    return word;
}

JsonReader JsonReader::Child(const QString& key) const
{
    const QJsonValue value = Required(key);
    if (!value.isObject())
        Fail(key, "must be an object ({...})");
    return JsonReader(value.toObject(), KeyPath(key));
}

QJsonArray JsonReader::Array(const QString& key) const
{
    const QJsonValue value = Required(key);
    if (!value.isArray())
        Fail(key, "must be a list ([...])");
    return value.toArray();
}

JsonReader JsonReader::Element(const QString& key, const QJsonArray& array, int i) const
{
    const QString path = QString("%1[%2]").arg(KeyPath(key)).arg(i);
    if (!array.at(i).isObject())
        throw DescriptionError(path, "must be an object ({...})");
    return JsonReader(array.at(i).toObject(), path);
}

void JsonReader::RejectUnknownKeys(const QStringList& known) const
{
    for (const QString& key : m_object.keys()) {
        if (!known.contains(key))
            Fail(key, QString("is not a known key (known here: %1)").arg(known.join(", ")));
    }
}

} // namespace unitsim
