#include "app/errors.h"

#include "app/messages.h"

namespace kestrella {

QString errorText(const std::exception& error)
{
    if (const auto* numbered = dynamic_cast<const AppError*>(&error))
        return QStringLiteral("Error %1: %2").arg(QString::number(numbered->number()), numbered->text());
    return QString::fromStdString(error.what());
}

void reportError(QWidget* parent, const std::exception& error)
{
    showNotice(parent, errorText(error));
}

} // namespace kestrella
