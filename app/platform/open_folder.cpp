#include "app/platform/open_folder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace zelkor::app::platform {
namespace {

QString qpath(const std::filesystem::path& p) {
    const std::string s = p.string();
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

void showInFolder(const std::filesystem::path& file) {
    const QUrl fileUrl = QUrl::fromLocalFile(qpath(file));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    const auto* iface = bus.isConnected() ? bus.interface() : nullptr;
    // A file manager may be running, or merely activatable by the bus on the first call.
    if (iface && (iface->isServiceRegistered(service).value() ||
                  iface->activatableServiceNames().value().contains(service))) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, QStringLiteral("/org/freedesktop/FileManager1"), service, QStringLiteral("ShowItems"));
        call << QStringList{fileUrl.toString()} << QString();
        if (bus.send(call)) return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(qpath(file.parent_path())));
}

} // namespace zelkor::app::platform
