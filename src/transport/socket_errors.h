#pragma once
// The numbers a socket component reports with SocketError, the same on every
// platform: network and name-lookup failures carry the numbers Windows sockets
// give them, TLS failures the numbers Windows gives its secure-channel and
// certificate failures. The description always says what failed and where,
// e.g. "Connection refused (127.0.0.1:1)".
#include <cstdint>

namespace corvane::socket_error {

inline constexpr int16_t kAccessDenied = 10013;
inline constexpr int16_t kInvalidArgument = 10022;  // also: a port outside 1..65535
inline constexpr int16_t kTooManyOpenSockets = 10024;
inline constexpr int16_t kAddressFamilyNotSupported = 10047;
inline constexpr int16_t kAddressNotAvailable = 10049;
inline constexpr int16_t kNetworkDown = 10050;
inline constexpr int16_t kNetworkUnreachable = 10051;
inline constexpr int16_t kConnectionAborted = 10053;
inline constexpr int16_t kConnectionReset = 10054;
inline constexpr int16_t kNoBufferSpace = 10055;
inline constexpr int16_t kNotConnected = 10057;  // SendData on a closed socket
inline constexpr int16_t kTimedOut = 10060;
inline constexpr int16_t kConnectionRefused = 10061;
inline constexpr int16_t kHostUnreachable = 10065;
inline constexpr int16_t kOtherSystemError = 10100;  // any other system call failure

inline constexpr int16_t kHostNotFound = 11001;
inline constexpr int16_t kLookupTryAgain = 11002;  // temporary name-server failure
inline constexpr int16_t kLookupFailed = 11003;    // any other name-lookup failure

inline constexpr int16_t kTlsCertificateExpired = 12037;  // or not yet valid
inline constexpr int16_t kTlsHostnameMismatch = 12038;
inline constexpr int16_t kTlsCertificateUntrusted = 12045;  // and every other verification failure
inline constexpr int16_t kTlsFailure = 12157;  // handshake or record failure

}  // namespace corvane::socket_error
