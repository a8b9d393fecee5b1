#include "app/errors.h"

#include "app/messages.h"

namespace kestrella {

AppError::AppError(int number, const QString& text)
    : std::runtime_error(text.toStdString())
    , m_number(number)
    , m_text(text)
{
}

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
