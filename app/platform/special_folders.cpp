#include "app/platform/special_folders.h"

#include <QStandardPaths>

namespace zelkor::app::platform {
namespace {

std::filesystem::path location(QStandardPaths::StandardLocation which) {
    const QByteArray path = QStandardPaths::writableLocation(which).toUtf8();
    return std::filesystem::path(std::string(path.constData(), static_cast<size_t>(path.size())));
}

} // namespace

std::filesystem::path documentsFolder() {
    return location(QStandardPaths::DocumentsLocation);
}
std::filesystem::path desktopFolder() {
    return location(QStandardPaths::DesktopLocation);
}

} // namespace zelkor::app::platform
