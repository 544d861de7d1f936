#pragma once

#include <filesystem>

namespace localcloud {

struct CertificateFiles {
    std::filesystem::path caCert;
    std::filesystem::path serverCert;
    std::filesystem::path serverKey;
};

// Makes a private CA and a server certificate for 127.0.0.1 (and "localhost") in `dir` the first
// time, and reuses them afterwards so clients that trusted the CA once keep trusting it.
CertificateFiles ensureCertificates(const std::filesystem::path &dir);

} // namespace localcloud
