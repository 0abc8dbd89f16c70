#include "ui/WindowImplBase.h"

#include "ui/SkinArchive.h"
#include "ui/SkinBuilder.h"
#include "ui/WindowComposition.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <QWindow>

namespace {

QString DefaultStyle() {
    static QString style;
    static bool read = false;
    if (!read && SkinArchive::Instance().IsLoaded()) {
        read = true;
        SkinBuilder builder;
        if (QWidget* defaults = builder.Build(QStringLiteral("xmls\\Default.xml"), nullptr)) {
            style = defaults->styleSheet();
            delete defaults;
        }
    }
    return style;
}

// The program's icon in every size the skin has, for the taskbar, the window
// switcher and the title of a desktop that draws one.
QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QPixmap pixmap =
            SkinArchive::Instance().Pixmap(QStringLiteral("UI\\icon\\logo_%1.png").arg(size));
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

// The grey of a shadow ring, darkest next to the body. Opaque: a translucent
// shadow let the edges of the window below (the login window's edits) show
// through beside a dialog.
QColor ShadowRing(int ring, int shadow) {
    const int step = shadow > 1 ? 0x28 * (ring - 1) / (shadow - 1) : 0;
    const int grey = 0xD0 + step;
    return QColor(grey, grey, grey);
}

}  // namespace

WindowImplBase::WindowImplBase() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    qApp->installEventFilter(this);
}

WindowImplBase::~WindowImplBase() {
    qApp->removeEventFilter(this);
    if (m_loop) {
        m_loop->quit();
    }
}

bool WindowImplBase::Create(QWidget* owner, const QString& title) {
    m_owner = owner;
    if (owner) {
        // A dialog of its owner, still a window of its own.
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    }
    setObjectName(GetWindowClassName());
    setWindowTitle(title);
    if (qApp->windowIcon().isNull()) {
        const QIcon icon = ProgramIcon();
        if (!icon.isNull()) {
            QApplication::setWindowIcon(icon);
        }
    }
    SkinBuilder builder([this](const QString& className, QWidget* parent) {
        return CreateControl(className, parent);
    });
    // The shared defaults every layout starts from (fonts, tooltips).
    setStyleSheet(DefaultStyle());
    m_form = builder.Build(GetSkinFile(), this);
    if (!m_form) {
        // Without its layout the window still exists, empty, so that the
        // program can go on and close it normally.
        resize(320, 200);
        AttachToOwner();
        InitWindow();
        return false;
    }
    const auto number = [this](const char* name) {
        const QVariant value = m_form->property(name);
        return value.isValid() ? value.toInt() : 0;
    };
    m_caption = number("caption");
    m_radius = number("roundCorner");
    m_shadow = number("shadow");
    m_transparent = m_form->property("transparentBackground").toBool();
    ApplyLook();
    // The square look keeps a 1-px border; the composed one a margin for its shadow.
    const int margin = m_composed ? m_shadow : 1;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    layout->addWidget(m_form);
    const QSize size = m_form->size();
    const QSize frame(2 * margin, 2 * margin);
    if (m_form->minimumSize() == m_form->maximumSize() && !m_form->minimumSize().isEmpty()) {
        setFixedSize(m_form->minimumSize() + frame);
    } else {
        resize(size + frame);
    }
    HookControls(m_form);
    AttachToOwner();
    InitWindow();
    return true;
}

void WindowImplBase::ApplyLook() {
    m_composed = (m_radius > 0 || m_shadow > 0 || m_transparent) && CanComposeTranslucentWindows();
    if (m_composed) {
        // Set before the native window exists: it decides the window's visual.
        setAttribute(Qt::WA_TranslucentBackground);
        setAutoFillBackground(false);
    }
}

void WindowImplBase::AttachToOwner() {
    if (!m_owner) {
        return;
    }
    // The transient parent is what the desktop goes by: the dialog stays above
    // its owner, has no taskbar entry and is placed over it. A QWidget parent
    // would do the same but would also disable the dialog with its owner.
    QWidget* ownerWindow = m_owner->window();
    ownerWindow->winId();
    winId();
    if (QWindow* handle = windowHandle()) {
        handle->setTransientParent(ownerWindow->windowHandle());
    }
}

void WindowImplBase::CenterWindow() {
    QRect area;
    if (m_owner && m_owner->isVisible()) {
        area = m_owner->window()->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

int WindowImplBase::ShowModal() {
    QPointer<QWidget> owner = m_owner;
    // Disabling the owner takes the keyboard focus from it; it gets it back
    // where it was once this window has gone.
    QPointer<QWidget> ownerFocus = owner ? owner->window()->focusWidget() : nullptr;
    if (owner) {
        owner->setEnabled(false);
    }
    show();
    raise();
    activateWindow();
    if (!m_closed) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_loop = nullptr;
    }
    if (owner) {
        owner->setEnabled(true);
        owner->activateWindow();
        if (ownerFocus && ownerFocus->window() == owner->window()) {
            ownerFocus->setFocus();
        }
    }
    const int code = m_code;
    FinalMessage();  // may schedule this object's deletion
    return code;
}

void WindowImplBase::Close(int code) {
    QMetaObject::invokeMethod(
        this, [this, code] { DoClose(code); }, Qt::QueuedConnection);
}

void WindowImplBase::DoClose(int code) {
    if (m_closed) {
        return;
    }
    m_code = code;
    m_closing = true;
    close();
    m_closing = false;
}

void WindowImplBase::closeEvent(QCloseEvent* event) {
    if (!m_closing && !AllowSystemClose()) {
        event->ignore();
        return;
    }
    event->accept();
    m_closed = true;
    emit closed(m_code);
    if (m_loop) {
        m_loop->quit();
    } else {
        FinalMessage();
    }
}

void WindowImplBase::FinalMessage() {
    if (m_finalDone || !m_closed) {
        return;
    }
    m_finalDone = true;
    OnFinalMessage();
}

QWidget* WindowImplBase::FindControl(const QString& name) const {
    if (name.isEmpty()) {
        return nullptr;
    }
    // The exact spelling wins, so that "savebtn" of the window is not
    // mistaken for a list row's "saveBtn".
    if (auto* exact = findChild<QWidget*>(name)) {
        return exact;
    }
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) {
            return child;
        }
    }
    return nullptr;
}

void WindowImplBase::HookControls(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (widget->property("_hooked").toBool()) {
            continue;
        }
        QPointer<QWidget> sender(widget);
        if (auto* option = qobject_cast<QRadioButton*>(widget)) {
            connect(option, &QRadioButton::toggled, this, [this, sender](bool checked) {
                if (checked && sender) {
                    Notify({QStringLiteral("selectchanged"), sender});
                }
            });
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this, [this, sender] {
                if (sender) {
                    Notify({QStringLiteral("click"), sender});
                }
            });
        } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
            connect(slider, &QSlider::valueChanged, this, [this, sender] {
                if (sender) {
                    Notify({QStringLiteral("valuechanged"), sender});
                }
            });
        } else {
            continue;
        }
        widget->setProperty("_hooked", true);
    }
}

void WindowImplBase::Notify(const TNotify& msg) {
    if (msg.type == QLatin1String("click")) {
        OnClick(msg);
    }
}

void WindowImplBase::OnClick(const TNotify& msg) {
    if (!msg.sender) {
        return;
    }
    const QString name = msg.sender->objectName();
    if (name.compare(QLatin1String("closebtn"), Qt::CaseInsensitive) == 0) {
        Close(1);
    } else if (name.compare(QLatin1String("minbtn"), Qt::CaseInsensitive) == 0) {
        showMinimized();
    }
}

bool WindowImplBase::MessageHandler(QEvent*) {
    return false;
}

QWidget* WindowImplBase::CreateControl(const QString&, QWidget*) {
    return nullptr;
}

bool WindowImplBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        return MessageHandler(event);
    }
    return QWidget::eventFilter(watched, event);
}

void WindowImplBase::mousePressEvent(QMouseEvent* event) {
    const qreal y = event->position().y() - (m_form ? m_form->y() : 0);
    const bool inCaption = m_caption < 0 || (m_caption > 0 && y < m_caption);
    if (event->button() == Qt::LeftButton && inCaption && windowHandle()) {
        // A frameless window is moved by dragging its caption area.
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void WindowImplBase::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_composed) {
        painter.setPen(QColor(0xD0, 0xD0, 0xD0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF body = QRectF(rect()).adjusted(m_shadow, m_shadow, -m_shadow, -m_shadow);
    QPainterPath bodyPath;
    bodyPath.addRoundedRect(body, m_radius, m_radius);
    // Rings of grey around the body, the outer first and each next one inside
    // it, so the shadow darkens towards the body; none falls under it.
    for (int ring = m_shadow; ring > 0; --ring) {
        QPainterPath ringPath;
        ringPath.addRoundedRect(body.adjusted(-ring, -ring, ring, ring), m_radius + ring,
                                m_radius + ring);
        painter.fillPath(ringPath.subtracted(bodyPath), ShadowRing(ring, m_shadow));
    }
    if (m_transparent) {
        return;  // only the controls show, on the desktop behind
    }
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(body, m_radius, m_radius);
}
