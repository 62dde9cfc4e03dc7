#pragma once
// What the window tests share: one QApplication for the test program, and small helpers.

#include "app/qt_text.h"
#include "app/startup.h"
#include "text/text.h"

#include <QApplication>
#include <QString>
#include <string>

namespace zelkor::test {

// Created on first use on the test's main thread and kept for the whole program.
inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "app_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* created = new QApplication(argc, argv); // lives until the process ends
        app::applyLook(*created);
        return created;
    }();
    return *app;
}

inline Text gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}
inline QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace zelkor::test
