#include "design.h"

#include <QEvent>
#include <QFileInfo>
#include <QImageReader>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <qdrawutil.h>

#include <limits>

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

QLineEdit *textBox(QWidget *form, const QString &objectName, const QRect &geometry)
{
    auto *box = new QLineEdit(form);
    box->setObjectName(objectName);
    box->setGeometry(geometry);
    // Qt would silently cut a pasted text at 32,767 characters.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

GraphicalButton::GraphicalButton(const QString &caption, const QColor &backColour, QWidget *parent)
    : QPushButton(caption, parent)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Button, backColour);
    setPalette(colours);
}

void GraphicalButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QRect bevel = rect();
    painter.fillRect(bevel, BackColor());
    // The bevel takes the form's greys, not shades of the back colour.
    const QPalette greys = parentWidget() ? parentWidget()->palette() : palette();
    if (isDefault()) {
        painter.setPen(Qt::black);
        painter.drawRect(bevel.adjusted(0, 0, -1, -1));
        bevel.adjust(1, 1, -1, -1);
    }
    if (isDown()) {
        painter.setPen(greys.color(QPalette::Dark));
        painter.drawRect(bevel.adjusted(0, 0, -1, -1));
    } else {
        qDrawWinButton(&painter, bevel, greys, false, nullptr);
    }
    const QRect face = bevel.translated(isDown() ? QPoint(1, 1) : QPoint());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(face, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(face.adjusted(3, 3, -4, -4));
    }
}

GraphicalButton *graphicalButton(QWidget *form, const QString &objectName, const QString &caption,
                                 const QRect &geometry, const QColor &backColour)
{
    auto *button = new GraphicalButton(caption, backColour, form);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    return button;
}

namespace {

// A window manager frames a window only once it is mapped, so the frame is known at its first paint; after that the
// window is where the user puts it.
class Recentring : public QObject
{
public:
    Recentring(QWidget *window, const QSize &frame) : QObject(window), m_frame(frame) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::Paint) {
            window->removeEventFilter(this);
            deleteLater();
            if (window->frameGeometry().size() != m_frame)
                centreOnScreen(window);
        }
        return false;
    }

private:
    QSize m_frame;
};

} // namespace

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    // A top-level window's position is that of its frame.
    window->move(frame.topLeft());
    if (frame.size() == window->size())
        window->installEventFilter(new Recentring(window, frame.size()));
}
