#pragma once

// Pieces both forms are designed with: twips, the form font, text boxes, graphical buttons and centring.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QRect>

class QLineEdit;
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

// A single-line text box with no limit on its length.
QLineEdit *textBox(QWidget *form, const QString &objectName, const QRect &geometry);

// A button whose face is one flat fill of its back colour, with the platform's classic bevel; the default
// button is marked by a black border, not by a tint.
class GraphicalButton : public QPushButton
{
    Q_OBJECT
public:
    GraphicalButton(const QString &caption, const QColor &backColour, QWidget *parent);
    QColor BackColor() const { return palette().color(QPalette::Button); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

GraphicalButton *graphicalButton(QWidget *form, const QString &objectName, const QString &caption,
                                 const QRect &geometry, const QColor &backColour);

// Centres the whole window, frame included, on its screen; again once the window manager has framed it.
void centreOnScreen(QWidget *window);
