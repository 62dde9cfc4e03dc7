#pragma once
// A self-signed certificate for 127.0.0.1 and localhost, made with OpenSSL when constructed and
// written as PEM files into a temporary directory that lives as long as the object. For
// LoopbackServer's HTTPS form; clients must skip verification (or trust certPath()).

#include "support/temp_dir.h"

#include <filesystem>

namespace zelkor::test {

class TlsCertificate {
  public:
    TlsCertificate();
    const std::filesystem::path& certPath() const { return m_cert; }
    const std::filesystem::path& keyPath() const { return m_key; }

  private:
    TempDir m_dir;
    std::filesystem::path m_cert;
    std::filesystem::path m_key;
};

} // namespace zelkor::test
