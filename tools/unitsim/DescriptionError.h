#pragma once
#include <QString>

#include <stdexcept>

namespace unitsim {

// A fault in a unit description: which key (as a path such as "units[0].ports[2].status")
// and what is wrong with it. The loader adds the file name when it reports it.
class DescriptionError : public std::runtime_error {
public:
    DescriptionError(QString key, QString problem)
        : std::runtime_error((key + ": " + problem).toStdString()), m_key(std::move(key)),
          m_problem(std::move(problem))
    {
    }
    const QString& Key() const { return m_key; }
    const QString& Problem() const { return m_problem; }

private:
    QString m_key;
    QString m_problem;
};

} // namespace unitsim
