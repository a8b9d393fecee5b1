#pragma once

#include <QString>
#include <stdexcept>

namespace kestrella {

// Why the migration stopped, in words for the user.
class Refusal : public std::runtime_error
{
public:
    explicit Refusal(const QString& reason)
        : std::runtime_error(reason.toStdString())
        , reason(reason)
    {
    }
    QString reason;
};

[[noreturn]] inline void refuse(const QString& reason)
{
    throw Refusal(reason);
}

} // namespace kestrella
