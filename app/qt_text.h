#pragma once
// The Qt boundary: GBK Text in the engine, QString in widgets. Widgets hold line breaks as "\n",
// the engine as "\r\n".

#include "text/text.h"

#include <QString>

namespace zelkor::app {

QString toQString(const Text& gbk);
Text toGbk(const QString& text);

// For multi-line boxes: "\r\n" becomes "\n" on the way in and "\n" becomes "\r\n" on the way out.
QString toQStringLines(const Text& gbk);
Text toGbkLines(const QString& text);

// Names in code are UTF-8 literals.
inline QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace zelkor::app
