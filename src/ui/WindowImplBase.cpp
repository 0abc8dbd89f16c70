#include "ui/WindowImplBase.h"

#include "ui/SkinArchive.h"
#include "ui/SkinBuilder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPainter>
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
    setObjectName(GetWindowClassName());
    setWindowTitle(title);
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
        InitWindow();
        return false;
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(m_form);
    const QSize size = m_form->size();
    if (m_form->minimumSize() == m_form->maximumSize() && !m_form->minimumSize().isEmpty()) {
        setFixedSize(m_form->minimumSize() + QSize(2, 2));
    } else {
        resize(size + QSize(2, 2));
    }
    m_caption = m_form->property("caption").isValid() ? m_form->property("caption").toInt() : 0;
    HookControls(m_form);
    InitWindow();
    return true;
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
    const bool inCaption = m_caption < 0 || (m_caption > 0 && event->position().y() < m_caption);
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
    painter.setPen(QColor(0xD0, 0xD0, 0xD0));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
