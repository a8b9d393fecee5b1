#include "app/controls.h"

#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QScreen>

namespace kestrella {

QFont arialFont(int pixels, bool bold)
{
    // Debian's Liberation Sans stands in for Arial with the same metrics.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont controlFont()
{
    return arialFont(11);
}

QFont labelFont()
{
    return arialFont(13, true);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption)
{
    auto* label = makeControl<QLabel>(parent, name);
    // Captions can come from the user's records: shown as typed, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(labelFont());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(caption);
    return label;
}

void setColours(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    for (auto [back, fore] :
         {std::pair{QPalette::Window, QPalette::WindowText}, std::pair{QPalette::Base, QPalette::Text},
          std::pair{QPalette::Button, QPalette::ButtonText}}) {
        palette.setColor(back, background);
        palette.setColor(fore, text);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void centreOnScreen(QWidget* window, const QScreen* screen)
{
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QIcon programIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/app/kestrella-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/app/kestrella-32.png"), QSize(32, 32));
    return icon;
}

} // namespace kestrella
