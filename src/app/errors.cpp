#include "app/errors.h"

#include "app/messages.h"

namespace kestrella {

void reportError(QWidget* parent, const AppError& error)
{
    showNotice(parent, QStringLiteral("Error %1: %2").arg(error.number()).arg(error.text()));
}

void reportError(QWidget* parent, const std::exception& error)
{
    if (const auto* appError = dynamic_cast<const AppError*>(&error)) {
        reportError(parent, *appError);
        return;
    }
    showNotice(parent, QString::fromStdString(error.what()));
}

} // namespace kestrella
