#pragma once

#include <QString>

class QWidget;

namespace kestrella {

enum class MessageButtons
{
    Ok,
    YesNoCancel
};
enum class MessageIcon
{
    None,
    Critical,
    Exclamation
};
enum class MessageAnswer
{
    Ok,
    Yes,
    No,
    Cancel
};

struct Message
{
    QString prompt;
    QString caption; // empty: the application title
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    int defaultButton = 1; // 1-based position among the buttons
};

// Every message box of the program goes through here, so tests can answer them without a modal loop.
class MessageService
{
public:
    virtual ~MessageService() = default;
    virtual MessageAnswer show(QWidget* parent, const Message& message) = 0;

    static MessageService& current();
    // Installs a service (not owned); nullptr restores the real message boxes.
    static void install(MessageService* service);
};

// Convenience: shows a message through the current service, filling in the caption.
MessageAnswer showMessage(QWidget* parent, Message message);
// OK only, no icon.
void showNotice(QWidget* parent, const QString& prompt, const QString& caption = {});
// OK only, exclamation icon.
void showWarning(QWidget* parent, const QString& prompt, const QString& caption = {});
// Yes, No and Cancel with the stop icon and No as the default: the destructive questions.
MessageAnswer askDestructive(QWidget* parent, const QString& prompt, const QString& caption);

} // namespace kestrella
