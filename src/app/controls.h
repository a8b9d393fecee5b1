#pragma once

#include "app/twips.h"

#include <QString>
#include <QWidget>
#include <initializer_list>

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

} // namespace kestrella
