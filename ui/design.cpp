#include "design.h"

#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>

QFont formFont()
{
    // The generic family is sans serif already: a style hint beside it would cost the font system a second search
    // for fallback families at every start.
    return QFont(QStringLiteral("Sans Serif"), 8);
}

QPushButton *graphicalButton(QWidget *form, const QString &objectName, const QString &caption, const QRect &geometry,
                             const QColor &backColour)
{
    // One palette-honouring style per form, owned by it.
    auto *style = form->findChild<QStyle *>(QStringLiteral("graphicalStyle"), Qt::FindDirectChildrenOnly);
    if (!style) {
        style = QStyleFactory::create(QStringLiteral("Fusion"));
        style->setObjectName(QStringLiteral("graphicalStyle"));
        style->setParent(form);
    }
    auto *button = new QPushButton(caption, form);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setStyle(style);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, backColour);
    button->setPalette(palette);
    return button;
}
