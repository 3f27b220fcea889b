// TLS client on Windows with Schannel (secur32) and the system's certificate
// chain engine (crypt32). Schannel works on buffers; this class moves them
// over the carrying TcpConnection, so its time-outs and abort() hold during
// the handshake and every read.
//
// The server's certificate is validated here, not by Schannel: the
// credentials ask for manual validation, and the chain is built with
// CertGetCertificateChain, its trust status checked, and the SSL policy
// applied with the host name. Schannel's own check cannot be relied on: Wine's
// Schannel completes the handshake without looking at the certificate, and
// the SSL policy alone accepts a chain that ends at an unknown issuer there.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace larkspur::platform {

namespace {

constexpr int kChunkBytes = 16 * 1024 + 512;  // one TLS record and its overhead
// Bytes of a record kept at most while waiting for its end: a TLS record is
// never bigger, so more means the peer speaks no TLS.
constexpr std::size_t kMaxPendingBytes = 64 * 1024;

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_MANUAL_CRED_VALIDATION;

struct CertFree {
  void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};

std::wstring widen(std::string_view text) {
  // Host names are ASCII (IDN names arrive in their xn-- form).
  std::wstring wide;
  for (char ch : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(ch));
  return wide;
}

// Credentials for TLS 1.2 and newer, validation left to us. An older system
// that does not know TLS 1.3 gets TLS 1.2 alone.
bool acquire_credentials(CredHandle& handle) {
  for (DWORD protocols : {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT},
                          DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = protocols;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry{};
    wchar_t package[] = UNISP_NAME_W;
    if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                  nullptr, nullptr, &handle, &expiry) == SEC_E_OK) {
      return true;
    }
  }
  return false;
}

TlsError chain_error(DWORD trust_errors) {
  if (trust_errors == CERT_TRUST_NO_ERROR) return TlsError::kNone;
  if (trust_errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    return TlsError::kUnknownIssuer;
  }
  if (trust_errors & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED)) {
    return TlsError::kExpired;
  }
  return TlsError::kBadCertificate;
}

TlsError policy_error(DWORD error) {
  switch (error) {
    case 0: return TlsError::kNone;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH): return TlsError::kWrongName;
    case static_cast<DWORD>(CERT_E_EXPIRED): return TlsError::kExpired;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING): return TlsError::kUnknownIssuer;
    default: return TlsError::kBadCertificate;
  }
}

class SchannelConnection final : public TlsConnection {
 public:
  SchannelConnection(std::shared_ptr<TcpConnection> transport, std::wstring host,
                     CredHandle credentials)
      : transport_(std::move(transport)), host_(std::move(host)), credentials_(credentials) {}

  ~SchannelConnection() override {
    if (have_context_) DeleteSecurityContext(&context_);
    FreeCredentialsHandle(&credentials_);
  }

  TlsError handshake(int timeout_ms) override {
    if (ready_ || failed_) return TlsError::kHandshakeFailed;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    if (!negotiate(deadline)) return fail(TlsError::kHandshakeFailed);
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        (info.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
      return fail(TlsError::kHandshakeFailed);
    }
    const TlsError verified = verify_server();
    if (verified != TlsError::kNone) return fail(verified);
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      return fail(TlsError::kHandshakeFailed);
    }
    ready_ = true;
    return TlsError::kNone;
  }

  bool send_all(std::string_view data) override {
    if (!ready_ || failed_) return false;
    std::vector<char> record;
    while (!data.empty()) {
      const std::size_t piece = std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader + piece + sizes_.cbTrailer, 0);
      std::memcpy(record.data() + sizes_.cbHeader, data.data(), piece);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
        failed_ = true;
        return false;
      }
      const std::size_t length = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
      if (!transport_->send_all(std::string_view(record.data(), length))) {
        failed_ = true;
        return false;
      }
      data.remove_prefix(piece);
    }
    return true;
  }

  int receive(char* buffer, int capacity, int timeout_ms) override {
    if (!ready_ || failed_ || capacity <= 0) return -1;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      if (!plain_.empty()) {
        const std::size_t n = std::min(plain_.size(), static_cast<std::size_t>(capacity));
        std::memcpy(buffer, plain_.data(), n);
        plain_.erase(0, n);
        return static_cast<int>(n);
      }
      if (closed_) return 0;
      if (!incoming_.empty()) {
        const Decrypted step = decrypt(deadline);
        if (step == Decrypted::kFailed) {
          failed_ = true;
          return -1;
        }
        if (step == Decrypted::kData) continue;
      }
      const int pulled = pull(deadline);
      if (pulled == 0) return 0;  // the peer closed the carrying connection
      if (pulled < 0) return -1;
    }
  }

  void abort() override { transport_->abort(); }

 private:
  enum class Decrypted { kData, kNeedMore, kFailed };

  // Appends bytes of the carrying connection to incoming_: its receive result.
  int pull(std::int64_t deadline) {
    if (incoming_.size() > kMaxPendingBytes) return -1;
    char chunk[kChunkBytes];
    const auto left = static_cast<int>(std::max<std::int64_t>(deadline - monotonic_ms(), 0));
    const int n = transport_->receive(chunk, sizeof chunk, left);
    if (n > 0) incoming_.append(chunk, static_cast<std::size_t>(n));
    return n;
  }

  // Keeps the bytes Schannel did not consume (an EXTRA buffer), which are the
  // last ones of incoming_.
  void keep_extra(const SecBuffer* buffers, int count) {
    for (int i = 0; i < count; ++i) {
      if (buffers[i].BufferType == SECBUFFER_EXTRA && buffers[i].cbBuffer > 0) {
        incoming_.erase(0, incoming_.size() - buffers[i].cbBuffer);
        return;
      }
    }
    incoming_.clear();
  }

  bool send_token(SecBuffer& token) {
    bool sent = true;
    if (token.pvBuffer && token.cbBuffer > 0) {
      sent = transport_->send_all(
          std::string_view(static_cast<const char*>(token.pvBuffer), token.cbBuffer));
    }
    if (token.pvBuffer) FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    return sent;
  }

  // The handshake's message exchange (also a renegotiation or the
  // post-handshake messages of TLS 1.3, starting from incoming_). True once
  // Schannel reports a complete context.
  bool negotiate(std::int64_t deadline) {
    for (;;) {
      const bool first = !have_context_;
      std::vector<char> input(incoming_.begin(), incoming_.end());
      SecBuffer in[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
      SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
      unsigned long attributes = 0;
      if (!first && input.empty()) {
        if (pull(deadline) <= 0) return false;
        continue;
      }
      const SECURITY_STATUS status = InitializeSecurityContextW(
          &credentials_, first ? nullptr : &context_, host_.data(), kContextRequest, 0, 0,
          first ? nullptr : &in_desc, 0, &context_, &out_desc, &attributes,
          nullptr);
      if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) have_context_ = true;
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        if (out[0].pvBuffer) FreeContextBuffer(out[0].pvBuffer);
        if (pull(deadline) <= 0) return false;
        continue;
      }
      // The token goes out also with a failure: it may be an alert telling
      // the server why.
      const bool sent = send_token(out[0]);
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
          status != SEC_I_INCOMPLETE_CREDENTIALS) {
        return false;
      }
      if (!sent) return false;
      if (first) {
        incoming_.clear();
      } else {
        keep_extra(in, 2);
      }
      if (status == SEC_E_OK) return true;
    }
  }

  // Decrypts the first record of incoming_ into plain_.
  Decrypted decrypt(std::int64_t deadline) {
    SecBuffer buffers[4] = {
        {static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Decrypted::kNeedMore;
    if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE) {
      return Decrypted::kFailed;
    }
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      }
    }
    keep_extra(buffers, 4);
    if (status == SEC_I_CONTEXT_EXPIRED) {  // close_notify
      closed_ = true;
      return Decrypted::kData;
    }
    if (status == SEC_I_RENEGOTIATE && !negotiate(deadline)) return Decrypted::kFailed;
    return Decrypted::kData;
  }

  // The certificate check, in the order a careful client makes it: a chain
  // that ends at a trusted root and is valid now, then the SSL policy with
  // the host name.
  TlsError verify_server() {
    const CERT_CONTEXT* raw = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK ||
        !raw) {
      return TlsError::kHandshakeFailed;
    }
    std::unique_ptr<const CERT_CONTEXT, CertFree> cert(raw);
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const CERT_CHAIN_CONTEXT* raw_chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert.get(), nullptr, cert->hCertStore, &chain_para, 0,
                                 nullptr, &raw_chain) ||
        !raw_chain) {
      return TlsError::kBadCertificate;
    }
    std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree> chain(raw_chain);
    const TlsError trust = chain_error(chain->TrustStatus.dwErrorStatus);
    if (trust != TlsError::kNone) return trust;

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl_para{};
    ssl_para.cbSize = sizeof ssl_para;
    ssl_para.dwAuthType = AUTHTYPE_SERVER;
    ssl_para.pwszServerName = host_.data();
    CERT_CHAIN_POLICY_PARA policy_para{};
    policy_para.cbSize = sizeof policy_para;
    policy_para.pvExtraPolicyPara = &ssl_para;
    CERT_CHAIN_POLICY_STATUS policy_status{};
    policy_status.cbSize = sizeof policy_status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy_para,
                                          &policy_status)) {
      return TlsError::kBadCertificate;
    }
    return policy_error(policy_status.dwError);
  }

  TlsError fail(TlsError error) {
    failed_ = true;
    return error;
  }

  std::shared_ptr<TcpConnection> transport_;
  std::wstring host_;
  CredHandle credentials_;
  CtxtHandle context_{};
  bool have_context_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string incoming_;  // received, not yet consumed by Schannel
  std::string plain_;     // decrypted, not yet delivered
  bool ready_ = false;
  bool failed_ = false;
  bool closed_ = false;  // close_notify received
};

}  // namespace

std::unique_ptr<TlsConnection> tls_client(std::shared_ptr<TcpConnection> transport,
                                          std::string_view host) {
  if (!transport || host.empty() || host.find('\0') != std::string_view::npos) return nullptr;
  for (char ch : host) {
    if (static_cast<unsigned char>(ch) >= 0x80) return nullptr;  // not a host name
  }
  CredHandle credentials{};
  if (!acquire_credentials(credentials)) return nullptr;
  return std::make_unique<SchannelConnection>(std::move(transport), widen(host), credentials);
}

}  // namespace larkspur::platform
