#include "ui/SkinControls.h"

#include "ui/SkinArchive.h"

#include <QCursor>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextLayout>

#include <algorithm>

namespace {

QPixmap Image(const QString& path) {
    return SkinArchive::Instance().Pixmap(path);
}

// Draws the image stretched over the rectangle; nothing when it is missing.
void DrawImage(QPainter& painter, const QRect& rect, const QString& path) {
    const QPixmap pixmap = Image(path);
    if (!pixmap.isNull()) {
        painter.drawPixmap(rect, pixmap);
    }
}

// The first image of the list that exists in the skin.
QString FirstPresent(std::initializer_list<const QString*> paths) {
    for (const QString* path : paths) {
        if (!path->isEmpty() && !Image(*path).isNull()) {
            return *path;
        }
    }
    return {};
}

// The keyboard focus, drawn the same on every skinned control: a thin frame
// of the accent colour just inside the control.
void DrawFocusFrame(QPainter& painter, const QWidget& widget) {
    if (!widget.hasFocus()) {
        return;
    }
    painter.save();
    painter.setOpacity(1.0);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x2D, 0x8C, 0xF0), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(widget.rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.restore();
}

}  // namespace

// ---------------------------------------------------------------- SkinButton

SkinButton::SkinButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
    // Tab reaches it (and shows its frame); a click leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
    setFlat(true);
    setAttribute(Qt::WA_Hover);
}

void SkinButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    update();
}

void SkinButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    update();
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QString image;
    if (!isEnabled()) {
        image = FirstPresent({&m_disabled, &m_normal});
        painter.setOpacity(m_disabled.isEmpty() ? 0.5 : 1.0);
    } else if (isDown()) {
        image = FirstPresent({&m_pushed, &m_hot, &m_normal});
    } else if (underMouse()) {
        image = FirstPresent({&m_hot, &m_normal});
    } else {
        image = FirstPresent({&m_normal});
    }
    DrawImage(painter, rect(), image);
    if (!text().isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
    DrawFocusFrame(painter, *this);
}

// ----------------------------------------------------------------- SkinLabel

SkinLabel::SkinLabel(QWidget* parent) : QLabel(parent) {}

void SkinLabel::setBkImage(const QString& path) {
    m_bkImage = path;
    update();
}

QStringList SkinLabel::layoutLines(bool& elided) const {
    elided = false;
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    const QString content = text();
    QStringList lines;
    if (area.width() <= 0) {
        return lines;
    }
    const int maxLines = std::max(1, area.height() / std::max(1, metrics.lineSpacing()));
    QTextLayout layout(content, font());
    layout.setTextOption(wrapOption());
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(area.width());
        if (lines.size() == maxLines - 1) {
            // The last line that fits takes the whole rest, cut at the end.
            const QString rest = content.mid(line.textStart());
            const QString cut = metrics.elidedText(rest, Qt::ElideRight, area.width());
            elided = cut != rest;
            lines.append(cut);
            break;
        }
        lines.append(content.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

QTextOption SkinLabel::wrapOption() const {
    QTextOption option;
    option.setWrapMode(wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                  : QTextOption::NoWrap);
    return option;
}

int SkinLabel::heightForWidth(int width) const {
    if (!m_endEllipsis) {
        return QLabel::heightForWidth(width);
    }
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    const QFontMetrics metrics(font());
    int lines = 0;
    if (inner > 0 && !text().isEmpty()) {
        QTextLayout layout(text(), font());
        layout.setTextOption(wrapOption());
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(inner);
            ++lines;
        }
        layout.endLayout();
    }
    return std::max(1, lines) * metrics.lineSpacing() + margins.top() + margins.bottom();
}

QString SkinLabel::shownText() const {
    if (!m_endEllipsis) {
        return text();
    }
    bool elided = false;
    return layoutLines(elided).join(QString());
}

void SkinLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        DrawImage(painter, rect(), m_bkImage);
    }
    if (!m_endEllipsis) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    bool elided = false;
    const QStringList lines = layoutLines(elided);
    const QFontMetrics metrics(font());
    const QRect area = contentsRect();
    const int height = static_cast<int>(lines.size()) * metrics.lineSpacing();
    int top = area.top();
    if (alignment() & Qt::AlignVCenter) {
        top += std::max(0, (area.height() - height) / 2);
    }
    for (const QString& line : lines) {
        const QRect lineRect(area.left(), top, area.width(), metrics.lineSpacing());
        painter.drawText(lineRect, (alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
                         line);
        top += metrics.lineSpacing();
    }
}

// ----------------------------------------------------------------- SkinPanel

SkinPanel::SkinPanel(QWidget* parent) : QWidget(parent) {}

void SkinPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawImage(painter, rect(), m_bkImage);
}

// ------------------------------------------------------------------- SkinGif

SkinGif::SkinGif(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
}

SkinGif::~SkinGif() {
    if (m_movie) {
        m_movie->stop();
    }
}

void SkinGif::setGifImage(const QString& path) {
    m_path = path;
    delete m_movie;
    m_movie = nullptr;
    m_buffer.close();
    if (!SkinArchive::Instance().ReadFile(path, m_data)) {
        clear();
        return;
    }
    m_buffer.setBuffer(&m_data);
    m_buffer.open(QIODevice::ReadOnly);
    m_movie = new QMovie(&m_buffer, QByteArray(), this);
    m_movie->setCacheMode(QMovie::CacheAll);
    if (!m_movie->isValid()) {
        delete m_movie;
        m_movie = nullptr;
        return;
    }
    m_movie->jumpToFrame(0);
    // The animation takes its own size, like an image control with auto-size.
    setMinimumSize(m_movie->currentPixmap().size());
    setMovie(m_movie);
    if (isVisible()) {
        m_movie->start();
    }
}

bool SkinGif::isPlaying() const {
    return m_movie && m_movie->state() == QMovie::Running;
}

void SkinGif::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    if (m_movie) {
        m_movie->start();
    }
}

void SkinGif::hideEvent(QHideEvent* event) {
    QLabel::hideEvent(event);
    if (m_movie) {
        m_movie->stop();
    }
}

// -------------------------------------------------------------- SkinCheckBox

SkinCheckBox::SkinCheckBox(QWidget* parent) : QCheckBox(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

bool SkinCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void SkinCheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool hot = underMouse();
    QString image =
        isChecked()
            ? (hot ? FirstPresent({&m_selectedHot, &m_selected}) : FirstPresent({&m_selected}))
            : (hot ? FirstPresent({&m_hot, &m_normal}) : FirstPresent({&m_normal}));
    int textLeft = 0;
    const QPixmap box = Image(image);
    const int side = std::min(height(), 16);
    const QRect boxRect(0, (height() - side) / 2, side, side);
    if (!box.isNull()) {
        painter.drawPixmap(boxRect, box);
    }
    textLeft = side + 6;
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(textLeft, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    DrawFocusFrame(painter, *this);
}

// ---------------------------------------------------------------- SkinOption

SkinOption::SkinOption(QWidget* parent) : QRadioButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

bool SkinOption::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void SkinOption::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (isChecked()) {
        DrawImage(painter, rect(), m_selectedImage);
    }
    painter.setFont(font());
    painter.setPen(isChecked() ? m_selectedTextColor : m_textColor);
    painter.drawText(rect(), Qt::AlignCenter, text());
    DrawFocusFrame(painter, *this);
}

// ------------------------------------------------------------------ SkinEdit

SkinEdit::SkinEdit(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setHintColor(QColor(0xA0, 0xA0, 0xA0));
}

QColor SkinEdit::hintColor() const {
    return palette().color(QPalette::PlaceholderText);
}

void SkinEdit::setHintColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::PlaceholderText, color);
    setPalette(pal);
}

void SkinEdit::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        DrawImage(painter, rect(), m_bkImage);
    }
    QLineEdit::paintEvent(event);
}

// ---------------------------------------------------------------- SkinSlider

SkinSlider::SkinSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setCursor(Qt::PointingHandCursor);
    // A click gives it the arrow keys too; the frame says where they go.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

int SkinSlider::ThumbSize() const {
    return std::min(height(), 16);
}

int SkinSlider::ValueAt(int x) const {
    const int span = width() - ThumbSize();
    if (span <= 0) {
        return minimum();
    }
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x - ThumbSize() / 2, span);
}

void SkinSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int thumb = ThumbSize();
    const int span = std::max(0, width() - thumb);
    const int thumbLeft = QStyle::sliderPositionFromValue(minimum(), maximum(), value(), span);
    const QPixmap track = Image(m_track);
    const int trackHeight = track.isNull() ? 4 : std::min(track.height(), height());
    const QRect trackRect(0, (height() - trackHeight) / 2, width(), trackHeight);
    DrawImage(painter, trackRect, m_track);
    DrawImage(painter, QRect(trackRect.left(), trackRect.top(), thumbLeft + thumb / 2, trackHeight),
              m_fill);
    const QString thumbImage = underMouse() || m_dragging ? FirstPresent({&m_thumbHot, &m_thumb})
                                                          : FirstPresent({&m_thumb});
    DrawImage(painter, QRect(thumbLeft, (height() - thumb) / 2, thumb, thumb), thumbImage);
    DrawFocusFrame(painter, *this);
}

void SkinSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    setSliderDown(true);
    setValue(ValueAt(event->position().toPoint().x()));
    event->accept();
}

void SkinSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging) {
        QSlider::mouseMoveEvent(event);
        return;
    }
    setValue(ValueAt(event->position().toPoint().x()));
    event->accept();
}

void SkinSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging) {
        QSlider::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    setSliderDown(false);
    update();
    event->accept();
}

// ------------------------------------------------------------- SkinScrollBar

SkinScrollBar::SkinScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
}

void SkinScrollBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xF0, 0xF0, 0xF0));
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    auto part = [&](QStyle::SubControl control) {
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, control, this);
    };
    auto variant = [&](const QRect& area, bool down) {
        if (!isEnabled()) {
            return QStringLiteral("disable");
        }
        if (down) {
            return QStringLiteral("down");
        }
        return underMouse() && area.contains(mouse) ? QStringLiteral("hover")
                                                    : QStringLiteral("normal");
    };
    const QString folder = QStringLiteral("UI\\scrollbar\\");
    const QRect thumb = part(QStyle::SC_ScrollBarSlider);
    if (orientation() == Qt::Vertical) {
        const QRect up = part(QStyle::SC_ScrollBarSubLine);
        const QRect down = part(QStyle::SC_ScrollBarAddLine);
        DrawImage(
            painter, up,
            folder + QStringLiteral("vscroll_up_") + variant(up, false) + QStringLiteral(".png"));
        DrawImage(painter, down,
                  folder + QStringLiteral("vscroll_down_") + variant(down, false) +
                      QStringLiteral(".png"));
        DrawImage(painter, thumb,
                  folder + QStringLiteral("thumb_") + variant(thumb, isSliderDown()) +
                      QStringLiteral(".png"));
    } else {
        DrawImage(painter, thumb,
                  folder + QStringLiteral("thumb_") + variant(thumb, isSliderDown()) +
                      QStringLiteral("_H.png"));
    }
}
