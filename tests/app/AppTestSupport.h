#pragma once
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The settings file lives in the current directory: each test runs in a fresh one of its own.
class TempCurrentDir {
public:
    TempCurrentDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~TempCurrentDir() { QDir::setCurrent(m_previous); }
    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

inline void WriteFileBytes(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray ReadFileBytes(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes written as hex pairs, blanks and commas allowed between them.
inline QByteArray Hex(const char* text)
{
    QByteArray digits(text);
    digits.replace(' ', "").replace(',', "");
    return QByteArray::fromHex(digits);
}
