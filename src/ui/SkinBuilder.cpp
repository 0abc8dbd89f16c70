#include "ui/SkinBuilder.h"

#include "ui/SkinArchive.h"
#include "ui/SkinControls.h"

#include <QBuffer>

SkinBuilder::SkinBuilder(Callback callback, QObject* parent)
    : QUiLoader(parent), m_callback(std::move(callback)) {}

QWidget* SkinBuilder::Build(const QString& path, QWidget* parent) {
    QByteArray layout;
    if (!SkinArchive::Instance().ReadFile(path, layout)) {
        return nullptr;
    }
    return BuildFrom(layout, parent);
}

QWidget* SkinBuilder::BuildFrom(const QByteArray& layout, QWidget* parent) {
    QBuffer buffer;
    buffer.setData(layout);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    return load(&buffer, parent);
}

QWidget* SkinBuilder::createWidget(const QString& className, QWidget* parent, const QString& name) {
    QWidget* widget = nullptr;
    if (m_callback) {
        widget = m_callback(className, parent);
    }
    if (!widget) {
        if (className == QLatin1String("SkinButton")) {
            widget = new SkinButton(parent);
        } else if (className == QLatin1String("SkinLabel")) {
            widget = new SkinLabel(parent);
        } else if (className == QLatin1String("SkinPanel")) {
            widget = new SkinPanel(parent);
        } else if (className == QLatin1String("SkinGif")) {
            widget = new SkinGif(parent);
        } else if (className == QLatin1String("SkinCheckBox")) {
            widget = new SkinCheckBox(parent);
        } else if (className == QLatin1String("SkinOption")) {
            widget = new SkinOption(parent);
        } else if (className == QLatin1String("SkinEdit")) {
            widget = new SkinEdit(parent);
        } else if (className == QLatin1String("SkinSlider")) {
            widget = new SkinSlider(parent);
        }
    }
    if (!widget) {
        return QUiLoader::createWidget(className, parent, name);
    }
    widget->setObjectName(name);
    return widget;
}
