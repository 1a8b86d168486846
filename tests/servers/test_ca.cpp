#include "test_ca.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace corvane::test_servers {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  Check(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, "extension");
  X509_EXTENSION_free(extension);
}

// Unsigned yet; `issuer` null makes it its own issuer.
X509* NewCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, bool expired = false) {
  static std::atomic<long> serial{1000};
  X509* certificate = X509_new();
  Check(certificate != nullptr, "allocation");
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
  // An expired one ended a day ago, after thirty days of validity.
  X509_gmtime_adj(X509_getm_notBefore(certificate), expired ? -31L * 24 * 3600 : -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate), expired ? -24L * 3600 : 30L * 24 * 3600);
  X509_set_pubkey(certificate, key);
  X509_NAME* subject = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer) : subject);
  AddExtension(certificate, issuer ? issuer : certificate, NID_subject_key_identifier, "hash");
  return certificate;
}

std::string Pem(X509* certificate) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, certificate);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, size);
  BIO_free(bio);
  return pem;
}

std::string Pem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, size);
  BIO_free(bio);
  return pem;
}

std::string Join(const std::vector<std::string>& names, const char* kind, std::string list = "") {
  for (const auto& name : names) list += (list.empty() ? "" : ",") + std::string(kind) + ":" + name;
  return list;
}

}  // namespace

TestCa::TestCa(const std::string& commonName) : key_(NewKey()), certificate_(NewCertificate(commonName, key_, nullptr)) {
  AddExtension(certificate_, certificate_, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate_, certificate_, NID_key_usage, "critical,keyCertSign,cRLSign");
  Check(X509_sign(certificate_, key_, EVP_sha256()) > 0, "signing the CA");
  certificatePem_ = Pem(certificate_);
}

TestCa::~TestCa() {
  X509_free(certificate_);
  EVP_PKEY_free(key_);
}

Identity TestCa::Issue(const std::vector<std::string>& dnsNames, const std::vector<std::string>& ipAddresses,
                       bool expired) const {
  EVP_PKEY* key = NewKey();
  const std::string commonName = dnsNames.empty() ? ipAddresses.at(0) : dnsNames[0];
  X509* certificate = NewCertificate(commonName, key, certificate_, expired);
  AddExtension(certificate, certificate_, NID_authority_key_identifier, "keyid:always");
  AddExtension(certificate, certificate_, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate, certificate_, NID_key_usage, "critical,digitalSignature");
  AddExtension(certificate, certificate_, NID_ext_key_usage, "serverAuth");
  AddExtension(certificate, certificate_, NID_subject_alt_name, Join(ipAddresses, "IP", Join(dnsNames, "DNS")));
  Check(X509_sign(certificate, key_, EVP_sha256()) > 0, "signing");
  Identity identity{Pem(certificate), Pem(key)};
  X509_free(certificate);
  EVP_PKEY_free(key);
  return identity;
}

TestPki::TestPki()
    : good(trusted.Issue({"localhost", kTestHostName}, {"127.0.0.1", "::1"})),
      wrongName(trusted.Issue({"elsewhere.corvane.test"}, {})),
      untrusted(stranger.Issue({"localhost", kTestHostName}, {"127.0.0.1", "::1"})),
      expired(trusted.Issue({"localhost", kTestHostName}, {"127.0.0.1", "::1"}, true)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvane-pki-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
  folder = pattern;
  caFile = folder + "/ca.pem";
  std::ofstream(caFile) << trusted.CertificatePem();
  if (const char* previous = getenv("SSL_CERT_FILE")) {
    hadCertFile_ = true;
    previousCertFile_ = previous;
  }
  setenv("SSL_CERT_FILE", caFile.c_str(), 1);
}

TestPki::~TestPki() {
  if (hadCertFile_) {
    setenv("SSL_CERT_FILE", previousCertFile_.c_str(), 1);
  } else {
    unsetenv("SSL_CERT_FILE");
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace corvane::test_servers
