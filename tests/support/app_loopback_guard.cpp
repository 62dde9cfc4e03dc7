// Linked into every window test program: before main() runs, every keyword source and the daily
// quote are pointed at a closed loopback port, so a test that forgets its own endpoints file fails
// to connect instead of reaching a public host. A test that names its own file still wins.

#include "sources/source_table.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class LoopbackGuard {
  public:
    LoopbackGuard() {
        if (std::getenv("ZELKOR_ENDPOINTS")) return;
        std::error_code ec;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec) std::abort(); // better no test at all than one that may leave the machine
        m_file = dir / ("zelkor-app-test-endpoints-" + std::to_string(::getpid()) + ".ini");
        std::ofstream out(m_file, std::ios::binary | std::ios::trunc);
        out << "[endpoints]\n";
        for (int i = 0; i < zelkor::kSourceCount; ++i)
            out << i << " = " << kClosed << "\n";
        out << "quote = " << kClosed << "\n"; // no mirrors and no notification root: those stay quiet
        out.close();
        if (!out) std::abort();
        ::setenv("ZELKOR_ENDPOINTS", m_file.c_str(), 1);
    }
    ~LoopbackGuard() {
        std::error_code ec;
        if (!m_file.empty()) std::filesystem::remove(m_file, ec);
    }
    LoopbackGuard(const LoopbackGuard&) = delete;
    LoopbackGuard& operator=(const LoopbackGuard&) = delete;

  private:
    static constexpr const char* kClosed = "http://127.0.0.1:1"; // nobody listens on port 1
    std::filesystem::path m_file;
};

const LoopbackGuard guard;

} // namespace
