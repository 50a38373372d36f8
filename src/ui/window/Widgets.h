#pragma once

#include <QFont>
#include <QLabel>

// Small widgets and helpers that give Qt controls the behaviour the window's
// controls are known for.

// Colours are written 0x00BBGGRR, as the program has always written them.
QColor colourFromBgr(quint32 bgr);

// Sets the back colour of a text box, button, frame or label and remembers it in
// the property "BackColor" (0x00BBGGRR), so the current colour can be asked for.
void setBackColour(QWidget *w, quint32 bgr);
quint32 backColour(const QWidget *w);
void setTextColour(QWidget *w, quint32 bgr);

// A font of the given family and point size; weight 400 normal, 700 bold, 900 heavy.
QFont makeFont(const QString &family, double pointSize, int weight = 400, bool italic = false,
               bool underline = false);

// A label that reports clicks.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *e) override;
};

// A thumbnail box: shows its picture stretched to the whole box (the aspect ratio
// is not kept) and reports clicks.
class PictureBox : public ClickLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);
    void setPicture(const QPixmap &p);
    QPixmap picture() const { return m_picture; }

    // The size in device pixels that a picture should have to fill the box sharply.
    QSize devicePixelSize() const;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    QPixmap m_picture;
};
