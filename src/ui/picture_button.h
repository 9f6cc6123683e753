#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace lumora {

// A button that is a picture: the image fills the button, and the button
// darkens a little while it is pressed.
class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PictureButton(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return picture_; }
    // The file the picture came from; empty for a built-in picture.
    const QString& pictureFile() const { return file_; }
    // Loads the picture from a file; false (and the picture unchanged) when
    // the file cannot be read as a picture.
    bool loadPicture(const QString& file);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    QString file_;
};

} // namespace lumora
