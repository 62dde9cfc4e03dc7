// A program that installs the fault handler and then fails in the way its argument names. Started
// again by the handler, it reports like zelkor does, and says on standard output that the message
// box was shown (title and text, UTF-8, line breaks as "|") before it closes the box.

#include "app/fault_report.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

void boxShown(QMessageBox& box) {
    std::string text = box.text().toStdString();
    for (char& c : text)
        if (c == '\n') c = '|';
    std::printf("box visible=%d modal=%d title=%s text=%s\n", box.isVisible() ? 1 : 0, box.isModal() ? 1 : 0,
                box.windowTitle().toStdString().c_str(), text.c_str());
    std::fflush(stdout);
    box.button(QMessageBox::Ok)->click();
}

volatile int g_zero = 0, g_seven = 7;
int* volatile g_nowhere = nullptr;

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = zelkor::app::runHandedOverFaultReport(argc, argv, boxShown))
        return *status;
    zelkor::app::installFaultHandler();
    const std::string how = argc > 1 ? argv[1] : "";
    if (how == "segv") *g_nowhere = 1;
    if (how == "fpe") std::printf("%d\n", g_seven / g_zero);
    if (how == "abort") std::abort();
    if (how == "throw") throw std::out_of_range("index 7 outside 0..3");
    if (how == "thread") std::thread([] { *g_nowhere = 2; }).join();
    if (how == "bus") std::raise(SIGBUS);
    std::puts("no fault");
    return 0;
}
