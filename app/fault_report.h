#pragma once
// The report of a fatal run-time error. A crashed process can neither show a window nor talk to
// the network safely, so the handler only re-executes the program with the fault handed over in
// the environment (ZELKOR_FAULT=<code>:<text>); the fresh process tells the user, sends the report
// to the notification service and ends.

#include "text/text.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QMessageBox;

namespace zelkor::app {

inline constexpr const char* kFaultVariable = "ZELKOR_FAULT";
inline constexpr const char* kReportRecipient = "zelkor-bugs";
inline constexpr const char* kReportSecret = "Zk7#pQ2!vR9@xL4$mN8&tY"; // 22 characters

// code: the signal number, or SIGABRT's for an uncaught exception; text: GBK.
struct Fault {
    int code = 0;
    Text text;
};

// Installs the handler for uncaught exceptions (std::set_terminate) and for SIGSEGV, SIGBUS,
// SIGFPE, SIGILL and SIGABRT. Everything the signal handler needs is prepared here; the handler
// itself only calls execve.
void installFaultHandler();

// The environment value for a fault, "<code>:<text in UTF-8>", and back.
std::string faultVariableValue(const Fault& fault);
std::optional<Fault> parseFaultVariable(std::string_view value);

struct FaultReportInputs {
    Text computer;    // host name, at most 15 characters
    Text system;      // the platform's description of the running system
    Text programFile; // file name of the program
    Text programDir;
    Text version;
};
FaultReportInputs collectFaultReportInputs();

// All GBK.
Text faultReportTitle(const FaultReportInputs& in);
Text faultReportBody(const FaultReportInputs& in, const Fault& fault);
Text faultMessageText(const Fault& fault);

// Every byte as "%XX", upper-case hex, letters and digits included.
std::string percentEncodeEveryByte(std::string_view bytes);
// root + "/tongzhi?mubiao=<recipient>&title=<title>&body=<body>&sa=1".
Text faultReportUrl(const Text& notifyRoot, const Text& title, const Text& body);

// Whole seconds from 1970-01-01 08:00:00 local time to `now` in local time, ten digits.
Text reportTimestamp(std::time_t now);
// "sign:" + md5(kReportSecret + timestamp) + "@" + timestamp.
Text reportSignHeader(const Text& timestamp);

struct FaultReportOptions {
    Text notifyRoot; // empty: the user is told, nothing is sent
    std::string caFile; // PEM roots trusted instead of the system's store; empty: the system's
    bool showBox = true; // false: the message goes to standard error instead of a message box
    // Called once the box is on screen; tests close it from here.
    std::function<void(QMessageBox&)> boxShown;
};

// True when windows can be shown: a platform other than offscreen or minimal is named, or an X11 or
// Wayland display is there.
bool displayAvailable();

// Tells the user (a message box, blocking until closed, or standard error), then sends the
// report. A message box needs a QApplication.
void reportFault(const Fault& fault, const FaultReportInputs& inputs, const FaultReportOptions& options);

// The first thing main() runs: when this process was started to report a fault, reports it (the
// notification root from the endpoints file of the program directory; a message box only where a
// display can show it) and returns the exit
// status of the crashed program; nullopt otherwise.
std::optional<int> runHandedOverFaultReport(int& argc, char** argv,
                                            std::function<void(QMessageBox&)> boxShown = {});

} // namespace zelkor::app
