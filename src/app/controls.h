#pragma once

#include "app/twips.h"

#include <QFont>
#include <QString>
#include <QWidget>
#include <initializer_list>

class QColor;
class QIcon;
class QLabel;
class QScreen;

namespace kestrella {

// A control made with its name as object name, so tests and readers find it by that name.
template <typename Widget>
Widget* makeControl(QWidget* parent, const char* name)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Where a control stands, in twips as Left, Top, Width, Height.
struct TwipsPlace
{
    QWidget* widget;
    int left, top, width, height;
};

inline void placeInTwips(std::initializer_list<TwipsPlace> places)
{
    for (const TwipsPlace& p : places)
        p.widget->setGeometry(twipsRect(p.left, p.top, p.width, p.height));
}

// Fonts are fixed in pixels, as the layout is: the desktop's font never clips a caption, while the screen's scale
// factor still scales text and layout together.
QFont arialFont(int pixels, bool bold = false);
// Every control but the labels.
QFont controlFont();
// The bold captions beside the fields.
QFont labelFont();

// A caption in the label font, read from its top left.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption = {});

// A background of the program's own always comes with a text colour of its own, and the other way round, so the
// desktop's theme never puts its text on our background.
void setColours(QWidget* widget, const QColor& background, const QColor& text);

// Centres a window on the screen's free area; its frame counts once the window system has told it.
void centreOnScreen(QWidget* window, const QScreen* screen);

// The window icon of every window that shows one.
QIcon programIcon();

} // namespace kestrella
