// TLS client on Linux with OpenSSL 3. The SSL object works on two memory
// BIOs and this class moves their bytes over the carrying TcpConnection, so
// every wait is the connection's own: its time-outs and its abort() hold
// during the handshake and every read, and the SSL object is only ever used
// by the one thread that sends and receives.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace larkspur::platform {

namespace {

constexpr int kChunkBytes = 16 * 1024;  // one TLS record at most

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// One context for the process: the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR are honoured) is read once, at the first TLS connection.
SSL_CTX* client_context() {
  static std::unique_ptr<SSL_CTX, CtxFree> context;
  static std::once_flag once;
  std::call_once(once, [] {
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) return;
    if (SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
      return;
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    context = std::move(ctx);
  });
  return context.get();
}

bool is_ip_literal(const std::string& host) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
  if (!ip) return false;
  ASN1_OCTET_STRING_free(ip);
  return true;
}

TlsError verify_error(long result) {
  switch (result) {
    case X509_V_OK:
      return TlsError::kNone;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return TlsError::kUnknownIssuer;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TlsError::kWrongName;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TlsError::kExpired;
    default:
      return TlsError::kBadCertificate;
  }
}

class OpenSslConnection final : public TlsConnection {
 public:
  OpenSslConnection(std::shared_ptr<TcpConnection> transport, std::unique_ptr<SSL, SslFree> ssl)
      : transport_(std::move(transport)), ssl_(std::move(ssl)) {}

  ~OpenSslConnection() override {
    // A polite close_notify after a good session; its fate does not matter.
    if (ready_ && !failed_ && SSL_shutdown(ssl_.get()) >= 0) flush();
  }

  TlsError handshake(int timeout_ms) override {
    if (ready_ || failed_) return TlsError::kHandshakeFailed;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      ERR_clear_error();
      const int result = SSL_connect(ssl_.get());
      const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_.get(), result);
      // The handshake's own bytes go out whatever the outcome (an alert
      // tells the server why it was refused).
      const bool sent = flush();
      if (result == 1) break;
      if (error != SSL_ERROR_WANT_READ || !sent) return fail(true);
      const std::int64_t left = deadline - monotonic_ms();
      if (left <= 0 || pull(static_cast<int>(left)) <= 0) return fail(false);
    }
    if (failed_) return TlsError::kHandshakeFailed;
    // SSL_VERIFY_PEER ends the handshake on a bad certificate already; the
    // result is checked again so that nothing unverified can slip through.
    if (SSL_get_verify_result(ssl_.get()) != X509_V_OK || !SSL_get0_peer_certificate(ssl_.get())) {
      return fail(true);
    }
    ready_ = true;
    return TlsError::kNone;
  }

  bool send_all(std::string_view data) override {
    if (!ready_ || failed_) return false;
    while (!data.empty()) {
      const int piece = static_cast<int>(std::min<std::size_t>(data.size(), kChunkBytes));
      ERR_clear_error();
      // Into a memory BIO a write never waits and is complete.
      if (SSL_write(ssl_.get(), data.data(), piece) != piece) {
        failed_ = true;
        return false;
      }
      data.remove_prefix(static_cast<std::size_t>(piece));
      if (!flush()) return false;
    }
    return true;
  }

  int receive(char* buffer, int capacity, int timeout_ms) override {
    if (!ready_ || failed_ || capacity <= 0) return -1;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      ERR_clear_error();
      const int got = SSL_read(ssl_.get(), buffer, capacity);
      if (got > 0) return got;
      const int error = SSL_get_error(ssl_.get(), got);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;  // close_notify
      // Reading may have produced bytes to send (a key update's answer).
      if (!flush() || error != SSL_ERROR_WANT_READ) {
        failed_ = true;
        return -1;
      }
      const int pulled = pull(static_cast<int>(std::max<std::int64_t>(deadline - monotonic_ms(), 0)));
      if (pulled == 0) return 0;  // the peer closed the carrying connection
      if (pulled < 0) return -1;
    }
  }

  void abort() override { transport_->abort(); }

 private:
  // Sends what the SSL object has written into its output BIO.
  bool flush() {
    BIO* out = SSL_get_wbio(ssl_.get());
    char chunk[kChunkBytes];
    for (;;) {
      const int n = BIO_read(out, chunk, sizeof chunk);
      if (n <= 0) return true;
      if (!transport_->send_all(std::string_view(chunk, static_cast<std::size_t>(n)))) {
        failed_ = true;
        return false;
      }
    }
  }

  // Feeds bytes from the carrying connection to the SSL object: the
  // connection's receive result.
  int pull(int timeout_ms) {
    char chunk[kChunkBytes];
    const int n = transport_->receive(chunk, sizeof chunk, timeout_ms);
    if (n > 0) BIO_write(SSL_get_rbio(ssl_.get()), chunk, n);
    return n;
  }

  TlsError fail(bool look_at_certificate) {
    failed_ = true;
    if (look_at_certificate) {
      const TlsError error = verify_error(SSL_get_verify_result(ssl_.get()));
      if (error != TlsError::kNone) return error;
    }
    return TlsError::kHandshakeFailed;
  }

  std::shared_ptr<TcpConnection> transport_;
  std::unique_ptr<SSL, SslFree> ssl_;
  bool ready_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<TlsConnection> tls_client(std::shared_ptr<TcpConnection> transport,
                                          std::string_view host_name) {
  SSL_CTX* context = client_context();
  if (!transport || !context || host_name.empty() ||
      host_name.find('\0') != std::string_view::npos) {
    return nullptr;
  }
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context));
  if (!ssl) return nullptr;
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (!in || !out) {
    BIO_free(in);
    BIO_free(out);
    return nullptr;
  }
  SSL_set_bio(ssl.get(), in, out);  // the SSL object owns both from here
  const std::string host(host_name);
  if (is_ip_literal(host)) {
    // No SNI for an address; the certificate must name the address itself.
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) return nullptr;
  } else {
    if (SSL_set_tlsext_host_name(ssl.get(), host.c_str()) != 1 ||
        SSL_set1_host(ssl.get(), host.c_str()) != 1) {
      return nullptr;
    }
    // A certificate for *.example.jp does not stand for example.jp's parts.
    SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  }
  return std::make_unique<OpenSslConnection>(std::move(transport), std::move(ssl));
}

}  // namespace larkspur::platform
