#pragma once

#include <QString>
#include <stdexcept>

namespace kestrella {

// A failure with a number and a text, as the user is shown it. Qt Core only, so the record store can raise it.
class AppError : public std::runtime_error
{
public:
    AppError(int number, const QString& text)
        : std::runtime_error(text.toStdString())
        , m_number(number)
        , m_text(text)
    {
    }
    int number() const { return m_number; }
    QString text() const { return m_text; }

private:
    int m_number;
    QString m_text;
};

// Runs one step of a routine that passes over failures: a failure skips this step only.
// Returns whether the step completed.
template <typename Step>
bool resumeNext(Step&& step) noexcept
{
    try {
        step();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kestrella
