#pragma once

// The skinned controls the layouts name. Each paints images read from the
// skin archive (style sheets cannot reach into it); a missing image draws
// nothing, so a window without its skin still works.

#include <QBuffer>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTextOption>
#include <QWidget>

class QMovie;

// A button with images for its normal, hot (hovered), pushed and disabled states.
class SkinButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString normalImage MEMBER m_normal)
    Q_PROPERTY(QString hotImage MEMBER m_hot)
    Q_PROPERTY(QString pushedImage MEMBER m_pushed)
    Q_PROPERTY(QString disabledImage MEMBER m_disabled)
public:
    explicit SkinButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_normal, m_hot, m_pushed, m_disabled;
};

// A label with a background image; `endEllipsis` cuts wrapped text that does
// not fit with "…" at the end instead of letting it run out of the control.
class SkinLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString bkImage READ bkImage WRITE setBkImage)
    Q_PROPERTY(bool endEllipsis MEMBER m_endEllipsis)
public:
    explicit SkinLabel(QWidget* parent = nullptr);
    QString bkImage() const { return m_bkImage; }
    void setBkImage(const QString& path);
    // The text as painted: elided when it does not fit (for tests and tooltips).
    QString shownText() const;
    // The height that shows every line of the text at `width`, wrapped as it
    // is painted, so that a window can grow the label to fit.
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList layoutLines(bool& elided) const;
    QTextOption wrapOption() const;
    QString m_bkImage;
    bool m_endEllipsis = false;
};

// A container with a background image.
class SkinPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString bkImage MEMBER m_bkImage)
public:
    explicit SkinPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_bkImage;
};

// An animated GIF that plays whenever it is shown.
class SkinGif : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString gifImage READ gifImage WRITE setGifImage)
public:
    explicit SkinGif(QWidget* parent = nullptr);
    ~SkinGif() override;
    QString gifImage() const { return m_path; }
    void setGifImage(const QString& path);
    bool isPlaying() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString m_path;
    QByteArray m_data;
    QBuffer m_buffer;
    QMovie* m_movie = nullptr;
};

// A check box whose box is drawn from images (normal, hot, selected, selected hot).
class SkinCheckBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(QString normalImage MEMBER m_normal)
    Q_PROPERTY(QString hotImage MEMBER m_hot)
    Q_PROPERTY(QString selectedImage MEMBER m_selected)
    Q_PROPERTY(QString selectedHotImage MEMBER m_selectedHot)
public:
    explicit SkinCheckBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QString m_normal, m_hot, m_selected, m_selectedHot;
};

// One of a group of options (the login window's tabs): the selected one is
// underlined by its image and written in its own colour.
class SkinOption : public QRadioButton {
    Q_OBJECT
    Q_PROPERTY(QString selectedImage MEMBER m_selectedImage)
    Q_PROPERTY(QColor textColor MEMBER m_textColor)
    Q_PROPERTY(QColor selectedTextColor MEMBER m_selectedTextColor)
public:
    explicit SkinOption(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QString m_selectedImage;
    QColor m_textColor{0xA0, 0xA0, 0xA0};
    QColor m_selectedTextColor{0x44, 0x42, 0x42};
};

// An edit box drawn on a background image.
class SkinEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString bkImage MEMBER m_bkImage)
    Q_PROPERTY(QColor hintColor READ hintColor WRITE setHintColor)
public:
    explicit SkinEdit(QWidget* parent = nullptr);
    QColor hintColor() const;
    void setHintColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_bkImage;
};

// A horizontal slider drawn from a track, a fill up to the thumb and the thumb.
class SkinSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(QString trackImage MEMBER m_track)
    Q_PROPERTY(QString fillImage MEMBER m_fill)
    Q_PROPERTY(QString thumbImage MEMBER m_thumb)
    Q_PROPERTY(QString thumbHotImage MEMBER m_thumbHot)
public:
    explicit SkinSlider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int ValueAt(int x) const;
    int ThumbSize() const;
    QString m_track, m_fill, m_thumb, m_thumbHot;
    bool m_dragging = false;
};

// A scroll bar drawn from the skin's scroll bar images: arrows (vertical bar)
// and thumb, each in its normal, hover, down and disable variant.
class SkinScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit SkinScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
