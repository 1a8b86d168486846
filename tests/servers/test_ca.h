#pragma once
// Certificates for the TLS tests, made with OpenSSL at run time: a certificate
// authority that issues server certificates, and a test PKI whose CA the
// process trusts through SSL_CERT_FILE.
#include <string>
#include <vector>

using EVP_PKEY = struct evp_pkey_st;
using X509 = struct x509_st;

namespace corvane::test_servers {

// A server's certificate and private key, PEM encoded.
struct Identity {
  std::string certificatePem;
  std::string keyPem;
};

class TestCa {
 public:
  explicit TestCa(const std::string& commonName);
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  const std::string& CertificatePem() const { return certificatePem_; }
  // A server certificate for exactly these DNS names and IP addresses; an expired
  // one's validity ended a day ago.
  Identity Issue(const std::vector<std::string>& dnsNames, const std::vector<std::string>& ipAddresses,
                 bool expired = false) const;

 private:
  EVP_PKEY* key_;
  X509* certificate_;
  std::string certificatePem_;
};

// One trusted CA, one stranger, and the server identities they issue. Creating
// it points SSL_CERT_FILE at a file holding the trusted CA alone, so create it
// before the first secure connection of the process (and before other threads
// run); destroying it removes the file.
struct TestPki {
  TestPki();
  ~TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;

  static constexpr const char* kTestHostName = "mail.corvane.test";

  TestCa trusted{"Corvane Test CA"};
  TestCa stranger{"Corvane Stranger CA"};
  Identity good;       // localhost, 127.0.0.1, ::1 and kTestHostName, from the trusted CA
  Identity wrongName;  // elsewhere.corvane.test only, from the trusted CA
  Identity untrusted;  // as good, but from the stranger
  Identity expired;    // as good, but no longer valid
  std::string folder;  // holds the CA file
  std::string caFile;

 private:
  std::string previousCertFile_;
  bool hadCertFile_ = false;
};

}  // namespace corvane::test_servers
