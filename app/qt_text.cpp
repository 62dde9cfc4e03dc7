#include "app/qt_text.h"

namespace zelkor::app {

QString toQString(const Text& gbk) {
    const Bytes utf8 = gbk_to_utf8(gbk);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text toGbk(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return utf8_to_gbk(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QString toQStringLines(const Text& gbk) {
    QString text = toQString(gbk);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

Text toGbkLines(const QString& text) {
    QString crlf = text;
    crlf.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return toGbk(crlf);
}

} // namespace zelkor::app
