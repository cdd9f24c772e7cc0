#include "design.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>

namespace {

void readAs(QImageReader &reader, const QString &path)
{
    reader.setFileName(path);
    reader.setFormat(QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
}

} // namespace

QIcon resourceIcon(const QString &path)
{
    QImageReader reader;
    readAs(reader, path);
    // Every image the file holds; of two of one size, the later (the richer one in our icons) is the one shown.
    QIcon icon;
    for (int image = 0; image < reader.imageCount() && reader.jumpToImage(image); ++image)
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    return icon;
}

QPixmap resourcePicture(const QString &path)
{
    QImageReader reader;
    readAs(reader, path);
    return QPixmap::fromImage(reader.read());
}

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
