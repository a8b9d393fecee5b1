#pragma once

#include "app/apperror.h"

class QWidget;

namespace kestrella {

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
