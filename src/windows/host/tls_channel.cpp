#include "windows/host/tls_channel.h"

#include <wincrypt.h>

#include <cstring>
#include <memory>

namespace corvane::win {

namespace {

constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

std::wstring reasonOf(long status, const std::wstring& serverName) {
  switch (static_cast<unsigned long>(status)) {
    case static_cast<unsigned long>(SEC_E_UNTRUSTED_ROOT):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<unsigned long>(CERT_E_CHAINING):
      return L"the server's certificate is not issued by a trusted authority";
    case static_cast<unsigned long>(SEC_E_WRONG_PRINCIPAL):
    case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
      return L"the server's certificate is not made out to " + serverName;
    case static_cast<unsigned long>(SEC_E_CERT_EXPIRED):
    case static_cast<unsigned long>(CERT_E_EXPIRED):
      return L"the server's certificate has expired or is not valid yet";
    case static_cast<unsigned long>(CERT_E_WRONG_USAGE):
      return L"the server's certificate is not meant for a server";
    case static_cast<unsigned long>(CERT_E_REVOKED):
      return L"the server's certificate has been revoked";
    case static_cast<unsigned long>(TRUST_E_CERT_SIGNATURE):
      return L"the server's certificate has an invalid signature";
    case static_cast<unsigned long>(TRUST_E_FAIL):
      return L"the server's certificate is not valid";
    case static_cast<unsigned long>(SEC_E_ALGORITHM_MISMATCH):
      return L"client and server have no protocol version or cipher in common";
    case static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE):
      return L"the server sent a message that does not belong in the handshake";
    case static_cast<unsigned long>(SEC_E_DECRYPT_FAILURE):
    case static_cast<unsigned long>(SEC_E_MESSAGE_ALTERED):
      return L"a record from the server could not be decrypted";
  }
  return L"security error";
}

// The certificate error for what is wrong with a chain, or 0. Revocation is not
// checked, so its status is unknown and does not count.
long chainFailure(DWORD trust) {
  trust &= ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_NOT_TIME_NESTED);
  if (trust == 0) return 0;
  if (trust & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) return CERT_E_UNTRUSTEDROOT;
  if (trust & CERT_TRUST_IS_NOT_TIME_VALID) return CERT_E_EXPIRED;
  if (trust & CERT_TRUST_IS_REVOKED) return CERT_E_REVOKED;
  if (trust & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return CERT_E_WRONG_USAGE;
  if (trust & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return TRUST_E_CERT_SIGNATURE;
  return TRUST_E_FAIL;
}

struct FreeCertificate {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct FreeChain {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};

// Whether the server's first handshake record chose a version below TLS 1.2 or
// is a protocol_version alert: Schannel's own status for that says nothing.
bool olderVersionChosen(std::string_view record) {
  const auto at = [&](size_t i) { return i < record.size() ? static_cast<unsigned char>(record[i]) : 0xFFu; };
  const bool serverHello = at(0) == 0x16 && at(5) == 0x02 && at(9) == 0x03 && at(10) < 0x03;
  const bool versionAlert = at(0) == 0x15 && at(6) == 70;
  return serverHello || versionAlert;
}

// Whether `bytes` begin as a TLS record does: a known content type, then major
// version 3. Schannel under Wine takes any five bytes for a record header and
// waits for as much as they say, so clear text would hang the handshake.
bool startsLikeRecord(std::string_view bytes) {
  const auto at = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 3u; };
  return at(0) >= 20 && at(0) <= 23 && at(1) == 3;
}

SecBuffer buffer(unsigned long type, void* data = nullptr, size_t size = 0) {
  return SecBuffer{static_cast<unsigned long>(size), type, data};
}

}  // namespace

TlsChannel::TlsChannel(std::wstring serverName) : serverName_(std::move(serverName)) {
  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  // No client certificate; the server's certificate is checked here, after the
  // handshake, the same way on every Windows and under Wine.
  settings.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
  // Not the system's default, which may still allow the broken older versions.
  settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  TimeStamp expiry;
  const SECURITY_STATUS status =
      AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                &settings, nullptr, nullptr, &credentials_, &expiry);
  if (status != SEC_E_OK) fail(status, L"no TLS credentials could be had");
}

TlsChannel::~TlsChannel() {
  if (haveContext_) DeleteSecurityContext(&context_);
  FreeCredentialsHandle(&credentials_);
}

void TlsChannel::fail(long status, std::wstring_view reason) const { throw TlsError{status, std::wstring(reason)}; }

SECURITY_STATUS TlsChannel::initialize(SecBufferDesc* input, std::string& outgoing) {
  SecBuffer token = buffer(SECBUFFER_TOKEN);
  SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
  ULONG attributes = 0;
  const SECURITY_STATUS status = InitializeSecurityContextW(
      &credentials_, haveContext_ ? &context_ : nullptr, serverName_.data(), kRequest, 0, 0, input, 0, &context_,
      &output, &attributes, nullptr);
  if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
  if (token.pvBuffer) {
    outgoing.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
  }
  return status;
}

std::string TlsChannel::start() {
  std::string hello;
  const SECURITY_STATUS status = initialize(nullptr, hello);
  if (status != SEC_I_CONTINUE_NEEDED) fail(status, reasonOf(status, serverName_));
  return hello;
}

TlsChannel::Status TlsChannel::handshake(std::string& incoming, std::string& outgoing) {
  // Schannel asks again at most once for a client certificate, which it has none of.
  for (int credentialRequests = 0; !incoming.empty();) {
    if (!startsLikeRecord(incoming)) fail(SEC_E_ILLEGAL_MESSAGE, reasonOf(SEC_E_ILLEGAL_MESSAGE, serverName_));
    SecBuffer in[2] = {buffer(SECBUFFER_TOKEN, incoming.data(), incoming.size()), buffer(SECBUFFER_EMPTY)};
    SecBufferDesc input{SECBUFFER_VERSION, 2, in};
    const SECURITY_STATUS status = initialize(&input, outgoing);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Status::kHandshaking;
    if (status == SEC_I_INCOMPLETE_CREDENTIALS && credentialRequests++ == 0) continue;
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      if (!verified_ && olderVersionChosen(incoming))
        fail(status, L"the protocol version was refused: TLS 1.2 or later is required");
      fail(status, reasonOf(status, serverName_));
    }
    const size_t unread = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
    incoming.erase(0, incoming.size() - unread);
    if (status == SEC_E_OK) {
      // Again after each later handshake: the server may present another certificate.
      verifyServerCertificate();
      if (!verified_) {
        const SECURITY_STATUS sized = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (sized != SEC_E_OK) fail(sized, L"the record sizes are unknown");
        verified_ = true;
      }
      handshaking_ = false;
      return Status::kOpen;
    }
  }
  return Status::kHandshaking;
}

TlsChannel::Status TlsChannel::feed(std::string& incoming, std::string& plain, std::string& outgoing) {
  for (;;) {
    if (handshaking_ && handshake(incoming, outgoing) != Status::kOpen) return Status::kHandshaking;
    if (incoming.empty()) return Status::kOpen;
    SecBuffer parts[4] = {buffer(SECBUFFER_DATA, incoming.data(), incoming.size()), buffer(SECBUFFER_EMPTY),
                          buffer(SECBUFFER_EMPTY), buffer(SECBUFFER_EMPTY)};
    SecBufferDesc message{SECBUFFER_VERSION, 4, parts};
    const SECURITY_STATUS status = DecryptMessage(&context_, &message, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Status::kOpen;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      fail(status, reasonOf(status, serverName_));
    size_t unread = 0;
    for (const SecBuffer& part : parts) {
      if (part.BufferType == SECBUFFER_DATA) plain.append(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
      if (part.BufferType == SECBUFFER_EXTRA) unread = part.cbBuffer;
    }
    incoming.erase(0, incoming.size() - unread);
    if (status == SEC_I_CONTEXT_EXPIRED) return Status::kClosedByPeer;
    // Handshake messages after the handshake (a new session ticket, a key update)
    // come with them and go back through InitializeSecurityContext. Without any, the
    // server asks for a renegotiation, which would wait for a message that never
    // comes: it is refused.
    if (status == SEC_I_RENEGOTIATE) {
      if (unread == 0) fail(status, L"the server asked to renegotiate the connection, which is refused");
      handshaking_ = true;
    }
  }
}

std::string TlsChannel::encrypt(std::string_view piece) {
  std::string record(sizes_.cbHeader + piece.size() + sizes_.cbTrailer, '\0');
  char* header = record.data();
  char* text = header + sizes_.cbHeader;
  std::memcpy(text, piece.data(), piece.size());
  SecBuffer parts[4] = {buffer(SECBUFFER_STREAM_HEADER, header, sizes_.cbHeader),
                        buffer(SECBUFFER_DATA, text, piece.size()),
                        buffer(SECBUFFER_STREAM_TRAILER, text + piece.size(), sizes_.cbTrailer),
                        buffer(SECBUFFER_EMPTY)};
  SecBufferDesc message{SECBUFFER_VERSION, 4, parts};
  const SECURITY_STATUS status = EncryptMessage(&context_, 0, &message, 0);
  if (status != SEC_E_OK) fail(status, L"a record could not be encrypted");
  record.resize(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer);
  return record;
}

std::string TlsChannel::closeNotify() {
  if (!haveContext_ || handshaking_) return {};
  DWORD shutdown = SCHANNEL_SHUTDOWN;
  SecBuffer control = buffer(SECBUFFER_TOKEN, &shutdown, sizeof shutdown);
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
  if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return {};
  std::string alert;
  const SECURITY_STATUS status = initialize(nullptr, alert);
  return status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ? alert : std::string();
}

void TlsChannel::verifyServerCertificate() {
  PCCERT_CONTEXT received = nullptr;
  const SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &received);
  if (status != SEC_E_OK || !received) fail(status, L"the server sent no certificate");
  const std::unique_ptr<const CERT_CONTEXT, FreeCertificate> certificate(received);

  char serverAuthentication[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuthentication};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                               &built))
    fail(HRESULT_FROM_WIN32(GetLastError()), L"the server's certificate chain could not be built");
  const std::unique_ptr<const CERT_CHAIN_CONTEXT, FreeChain> chain(built);

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = serverName_.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS verdict{};
  verdict.cbSize = sizeof verdict;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &verdict))
    fail(HRESULT_FROM_WIN32(GetLastError()), L"the server's certificate could not be checked");
  if (verdict.dwError != 0) fail(static_cast<long>(verdict.dwError), reasonOf(static_cast<long>(verdict.dwError), serverName_));
  // Wine's SSL policy passes a chain that ends below any trusted root; the
  // chain's own status does not.
  const long chainError = chainFailure(chain->TrustStatus.dwErrorStatus);
  if (chainError != 0) fail(chainError, reasonOf(chainError, serverName_));
}

}  // namespace corvane::win
