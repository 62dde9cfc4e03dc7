#pragma once
// What the window tests share: one QApplication for the test program, and small helpers.

#include "app/qt_text.h"
#include "app/startup.h"
#include "text/text.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTest>
#include <gtest/gtest.h>
#include <source_location>
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

// Lets the event loop run until `condition` holds. Past `timeoutMs` the test fails here, at the
// caller's line, and false comes back for the caller to stop if what follows needs the condition.
// (QTest's QTRY_* macros report to QTest, which this runner never reads, and return from the test.)
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 20000,
               std::source_location where = std::source_location::current()) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            if (condition()) break; // came true during the last wait
            ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line()))
                << "the condition did not hold within " << timeoutMs << " ms";
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

inline Text gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}
inline QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace zelkor::test
