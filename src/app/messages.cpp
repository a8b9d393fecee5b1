#include "app/messages.h"

#include "app/appinfo.h"

#include <QMessageBox>

namespace kestrella {
namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

class DialogMessageService final : public MessageService
{
public:
    MessageAnswer show(QWidget* parent, const Message& message) override
    {
        QMessageBox box(toQtIcon(message.icon), message.caption, message.prompt, QMessageBox::NoButton, parent);
        box.setTextFormat(Qt::PlainText); // names and addresses are shown as typed, never as markup
        if (message.buttons == MessageButtons::Ok) {
            box.setStandardButtons(QMessageBox::Ok);
            box.exec();
            return MessageAnswer::Ok;
        }
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        const QMessageBox::StandardButton order[] = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        box.setDefaultButton(order[qBound(1, message.defaultButton, 3) - 1]);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return MessageAnswer::Cancel;
        }
    }
};

DialogMessageService dialogService;
MessageService* installedService = nullptr;

} // namespace

MessageService& MessageService::current()
{
    return installedService ? *installedService : dialogService;
}

void MessageService::install(MessageService* service)
{
    installedService = service;
}

MessageAnswer showMessage(QWidget* parent, Message message)
{
    if (message.caption.isEmpty())
        message.caption = AppInfo::title();
    return MessageService::current().show(parent, message);
}

void showNotice(QWidget* parent, const QString& prompt, const QString& caption)
{
    showMessage(parent, {prompt, caption, MessageButtons::Ok, MessageIcon::None, 1});
}

void showWarning(QWidget* parent, const QString& prompt, const QString& caption)
{
    showMessage(parent, {prompt, caption, MessageButtons::Ok, MessageIcon::Exclamation, 1});
}

MessageAnswer askDestructive(QWidget* parent, const QString& prompt, const QString& caption)
{
    return showMessage(parent, {prompt, caption, MessageButtons::YesNoCancel, MessageIcon::Critical, 2});
}

} // namespace kestrella
