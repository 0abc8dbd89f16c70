#include "link/ReadNotifier.h"

#include <QSocketNotifier>

ReadNotifier::ReadNotifier(SocketHandle fd, QObject& parent, std::function<void()> onReadable)
    : m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, &parent)) {
    QObject::connect(m_notifier, &QSocketNotifier::activated,
                     [onReadable = std::move(onReadable)](QSocketDescriptor,
                                                          QSocketNotifier::Type) { onReadable(); });
}

ReadNotifier::~ReadNotifier() {
    m_notifier->setEnabled(false);
    m_notifier->disconnect();
    m_notifier->deleteLater();
}

void ReadNotifier::SetEnabled(bool enabled) {
    m_notifier->setEnabled(enabled);
}
