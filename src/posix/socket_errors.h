#pragma once
// How PosixSocket turns system, name-lookup and OpenSSL failures into the
// socket error numbers.
#include "transport/socket_errors.h"

namespace corvane::socket_error {

// The number for a failed system call's errno.
int16_t FromErrno(int error);
// The number for a getaddrinfo result (EAI_SYSTEM reads errno).
int16_t FromLookupError(int gaiError, int savedErrno);
// The number for an OpenSSL certificate verification result (X509_V_ERR_*).
int16_t FromVerifyResult(long verifyResult);

}  // namespace corvane::socket_error
