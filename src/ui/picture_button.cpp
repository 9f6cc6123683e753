#include "ui/picture_button.h"

#include <QPainter>

namespace lumora {

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
}

void PictureButton::setPicture(const QPixmap& picture)
{
    picture_ = picture;
    file_.clear();
    update();
}

bool PictureButton::loadPicture(const QString& file)
{
    QPixmap loaded;
    if (file.isEmpty() || !loaded.load(file)) {
        return false;
    }
    picture_ = loaded;
    file_ = file;
    update();
    return true;
}

QSize PictureButton::sizeHint() const
{
    return picture_.isNull() ? QSize(49, 49) : picture_.deviceIndependentSize().toSize();
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!picture_.isNull()) {
        painter.drawPixmap(rect(), picture_);
    }
    if (isDown()) {
        painter.fillRect(rect(), QColor(0, 0, 0, 60));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace lumora
