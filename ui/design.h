#pragma once

// Pieces both forms are designed with: twips, the form font and the graphical buttons.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>

class QPushButton;
class QWidget;

// Positions and sizes are designed in twips, fifteen to a pixel.
constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Pictures of the resources, read as the format their name ends in: left to guess, Qt loads every image plugin to
// ask which one can read the file.
QIcon resourceIcon(const QString &path);
QPixmap resourcePicture(const QString &path);

// The forms' default font: 8-point sans serif.
QFont formFont();

// A button painted in its own back colour, which only a style that honours the palette shows.
QPushButton *graphicalButton(QWidget *form, const QString &objectName, const QString &caption, const QRect &geometry,
                             const QColor &backColour);
