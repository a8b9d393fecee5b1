#pragma once

#include <QString>
#include <stdexcept>

class QWidget;

namespace kestrella {

// A failure with a number and a text, as the user is shown it.
class AppError : public std::runtime_error
{
public:
    AppError(int number, const QString& text);
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

// A failure as the user reads it: "Error N: text" when it carries a number.
QString errorText(const std::exception& error);

// Shows a failure with its number and text.
void reportError(QWidget* parent, const std::exception& error);

// Runs an event routine whose failures reach the user: any failure is shown and the program goes on.
// Returns whether the routine completed.
template <typename Routine>
bool runReported(QWidget* parent, Routine&& routine) noexcept
{
    try {
        routine();
        return true;
    } catch (const std::exception& e) {
        reportError(parent, e);
        return false;
    }
}

} // namespace kestrella
