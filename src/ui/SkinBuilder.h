#pragma once

#include <QUiLoader>

#include <functional>

// Builds widgets from a Qt Designer layout read out of the skin archive.
// Skinned controls and the windows' own custom controls are made here; every
// other class name goes to Qt's own loader.
class SkinBuilder : public QUiLoader {
    Q_OBJECT
public:
    // Makes a custom control for a class name, or returns nullptr to decline.
    using Callback = std::function<QWidget*(const QString& className, QWidget* parent)>;

    explicit SkinBuilder(Callback callback = {}, QObject* parent = nullptr);

    // Builds the layout at `path` of the skin archive under `parent`; nullptr
    // when the file is missing or not a layout.
    QWidget* Build(const QString& path, QWidget* parent);
    // The same from layout bytes already read (rows re-use one parsed file).
    QWidget* BuildFrom(const QByteArray& layout, QWidget* parent);

    QWidget* createWidget(const QString& className, QWidget* parent = nullptr,
                          const QString& name = QString()) override;

private:
    Callback m_callback;
};
