#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <climits>
#include <optional>

namespace unitsim {

// Reads one JSON object of a description and throws DescriptionError naming the key's full
// path for every value that is missing or of the wrong kind, so a user sees exactly what to fix.
class JsonReader {
public:
    JsonReader(QJsonObject object, QString path);

    const QString& Path() const { return m_path; }
    QString KeyPath(const QString& key) const;
    const QJsonObject& Object() const { return m_object; }

    bool Has(const QString& key) const { return m_object.contains(key); }
    // Present with the value null: the description says "there is no such thing".
    bool IsNull(const QString& key) const { return m_object.contains(key) && m_object.value(key).isNull(); }

    int Int(const QString& key, std::optional<int> fallback = {}, int min = INT_MIN, int max = INT_MAX) const;
    double Double(const QString& key, std::optional<double> fallback, double min, double max) const;
    bool Bool(const QString& key, bool fallback) const;
    QString String(const QString& key, std::optional<QString> fallback = {}) const;
    // One of the given words.
    QString Choice(const QString& key, const QStringList& words, const QString& fallback) const;
    JsonReader Child(const QString& key) const;
    QJsonArray Array(const QString& key) const;
    // Element i of an array read from key, which must be an object.
    JsonReader Element(const QString& key, const QJsonArray& array, int i) const;

    // Keys not in the list are refused: a misspelt key must not be ignored silently.
    void RejectUnknownKeys(const QStringList& known) const;

    [[noreturn]] void Fail(const QString& key, const QString& problem) const;

private:
    QJsonValue Required(const QString& key) const;
    // True when key is absent and a fallback applies; fails when it is absent without one.
    bool Absent(const QString& key, bool hasFallback) const;

    QJsonObject m_object;
    QString m_path;
};

// An integer that may stand for a number in a JSON value (a whole number within int's range).
std::optional<int> JsonInt(const QJsonValue& value);

} // namespace unitsim
