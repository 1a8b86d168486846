#include "posix/socket_errors.h"

#include <netdb.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

namespace corvane::socket_error {

int16_t FromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return kAccessDenied;
    case EINVAL: return kInvalidArgument;
    case EMFILE:
    case ENFILE: return kTooManyOpenSockets;
    case EAFNOSUPPORT: return kAddressFamilyNotSupported;
    case EADDRNOTAVAIL: return kAddressNotAvailable;
    case ENETDOWN: return kNetworkDown;
    case ENETUNREACH: return kNetworkUnreachable;
    case ECONNABORTED: return kConnectionAborted;
    case ECONNRESET:
    case EPIPE: return kConnectionReset;
    case ENOBUFS:
    case ENOMEM: return kNoBufferSpace;
    case ENOTCONN: return kNotConnected;
    case ETIMEDOUT: return kTimedOut;
    case ECONNREFUSED: return kConnectionRefused;
    case EHOSTUNREACH:
    case EHOSTDOWN: return kHostUnreachable;
    default: return kOtherSystemError;
  }
}

int16_t FromLookupError(int gaiError, int savedErrno) {
  switch (gaiError) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL: return kHostNotFound;
    case EAI_AGAIN: return kLookupTryAgain;
    case EAI_MEMORY: return kNoBufferSpace;
    case EAI_SYSTEM: return FromErrno(savedErrno);
    default: return kLookupFailed;
  }
}

int16_t FromVerifyResult(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_EMAIL_MISMATCH: return kTlsHostnameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: return kTlsCertificateExpired;
    default: return kTlsCertificateUntrusted;
  }
}

}  // namespace corvane::socket_error
