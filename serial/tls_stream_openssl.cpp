#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/stop_request.h"
#include "serial/tls_kept.h"
#include "serial/tls_stream.h"
#include "serial/tls_trust.h"

namespace kv58 {
namespace {

using namespace std::chrono_literals;

// TLS records open with a content type: 0x16 a handshake message, 0x15 an alert.
constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kAlertRecord = 0x15;
constexpr unsigned char kTelnetIac = 0xFF;
constexpr std::string_view kInUseText = "Port already in use";
// Over TLS 1.3 a server judges the client's certificate after the handshake has ended for the
// client: when it asked for one, its verdict (an alert, or its first bytes) is awaited this long.
constexpr auto kClientCertificateVerdictWait = 300ms;
// How long the closing alert may take on its way out.
constexpr auto kCloseNotifyWait = 100ms;

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using CtxPointer = std::shared_ptr<SSL_CTX>;

// The library's words for the first error of this thread's queue, and the queue emptied.
std::string LibraryError() {
  // The first is the cause; what follows says where it surfaced.
  const unsigned long last = ERR_get_error();
  ERR_clear_error();
  if (last == 0) {
    return "no reason given";
  }
  const char* reason = ERR_reason_error_string(last);
  return reason != nullptr ? reason : "error " + std::to_string(last);
}

// Why a file the library could not use: the system's words when it cannot be opened (the
// library's would be "system lib"), else the library's ("no certificate or crl found").
std::string FileError(const std::string& file) {
  FILE* opened = std::fopen(file.c_str(), "rb");
  if (opened == nullptr) {
    const std::string reason = std::strerror(errno);
    ERR_clear_error();
    return reason;
  }
  std::fclose(opened);
  return LibraryError();
}

bool IsIpLiteral(const std::string& name) {
  std::array<unsigned char, 16> bytes{};
  return ::inet_pton(AF_INET, name.c_str(), bytes.data()) == 1 ||
         ::inet_pton(AF_INET6, name.c_str(), bytes.data()) == 1;
}

// Set on the connection when the server asks for a client certificate.
int CertificateRequestedIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Called when the server asks for a client certificate, with or without one to give.
int NoteCertificateRequest(SSL* ssl, void* /*unused*/) {
  (void)SSL_set_ex_data(ssl, CertificateRequestedIndex(), ssl);
  return 1;
}

void NoteRequestOnContext(SSL_CTX* ctx) { SSL_CTX_set_cert_cb(ctx, NoteCertificateRequest, nullptr); }

CtxPointer NewContext(std::string& error) {
  CtxPointer ctx(SSL_CTX_new(TLS_client_method()), SslCtxFree());
  if (!ctx) {
    error = LibraryError();
    return nullptr;
  }
  (void)SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  // The chain is checked and its verdict kept, but the handshake goes on: the trust rules
  // decide afterwards, with the words and the fingerprint a refusal needs.
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  NoteRequestOnContext(ctx.get());
  return ctx;
}

CtxPointer NewContextFor(const TlsSettings& settings, std::string& error) {
  CtxPointer ctx = NewContext(error);
  if (!ctx) {
    return nullptr;
  }
  if (!settings.caFile.empty()) {
    if (SSL_CTX_load_verify_locations(ctx.get(), settings.caFile.c_str(), nullptr) != 1) {
      error = "cannot read the CA file " + settings.caFile + ": " + FileError(settings.caFile);
      return nullptr;
    }
  } else if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
    error = "cannot read the system's CA certificates: " + LibraryError();
    return nullptr;
  }
  if (!settings.certFile.empty()) {
    const std::string& keyFile = settings.keyFile.empty() ? settings.certFile : settings.keyFile;
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), settings.certFile.c_str()) != 1) {
      error = "cannot read the client certificate " + settings.certFile + ": " + FileError(settings.certFile);
      return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      error = "cannot use the client key " + keyFile + ": " + FileError(keyFile);
      return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx.get()) != 1) {
      ERR_clear_error();
      error = "the client key " + keyFile + " does not belong to the certificate " + settings.certFile;
      return nullptr;
    }
  }
  return ctx;
}

// Contexts by the files they were made from, each as it was when read.
CtxPointer ContextFor(const TlsSettings& settings, std::string& error) {
  static KeptByFiles<SSL_CTX> kept;
  return kept.Get(
      {settings.caFile, settings.certFile, settings.keyFile},
      [&settings](std::string& why) { return NewContextFor(settings, why); }, error);
}

PresentedCertificate Presented(SSL* ssl, X509* leaf) {
  PresentedCertificate presented;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (X509_digest(leaf, EVP_sha256(), digest.data(), &length) == 1) {
    presented.sha256 = HexOf(digest.data(), length);
  }
  const long verdict = SSL_get_verify_result(ssl);
  presented.chainVerified = verdict == X509_V_OK;
  if (!presented.chainVerified) {
    presented.chainProblem = X509_verify_cert_error_string(verdict);
  }
  auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(leaf, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type == GEN_DNS || name->type == GEN_IPADD) {
      const ASN1_STRING* value = name->type == GEN_DNS ? name->d.dNSName : name->d.iPAddress;
      std::string bytes(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                        static_cast<std::size_t>(ASN1_STRING_length(value)));
      (name->type == GEN_DNS ? presented.dnsNames : presented.ipAddresses).push_back(std::move(bytes));
    }
  }
  GENERAL_NAMES_free(names);
  if (presented.dnsNames.empty()) {
    const X509_NAME* subject = X509_get_subject_name(leaf);
    const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (at >= 0) {
      const ASN1_STRING* cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
      presented.dnsNames.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(cn)),
                                      static_cast<std::size_t>(ASN1_STRING_length(cn)));
    }
  }
  return presented;
}

// A filter over the connected stream: OpenSSL reads from and writes to two memory buffers,
// which this class fills from and empties into the stream below, so that every wait is the
// stream's own, bounded by the caller's deadline and cut short by a stop request.
class OpensslStream final : public ByteStream {
public:
  OpensslStream(std::unique_ptr<ByteStream> tcp, NetworkPort port)
      : tcp_(std::move(tcp)), port_(std::move(port)) {}
  ~OpensslStream() override {
    if (ssl_ && handshakeDone_ && alive_) {
      (void)SSL_shutdown(ssl_.get());
      (void)Flush(SteadyClock::now() + kCloseNotifyWait);
    }
  }
  OpensslStream(const OpensslStream&) = delete;
  OpensslStream& operator=(const OpensslStream&) = delete;

  bool Handshake(SteadyClock::time_point deadline, OpenFailure& failure);

  bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (alive_ && !bytes.empty()) {
      const int piece = static_cast<int>(std::min<std::size_t>(bytes.size(), kMaxChunkBytes));
      const int written = SSL_write(ssl_.get(), bytes.data(), piece);
      if (written > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(written));
        if (!Flush(deadline)) {
          return false;
        }
        continue;
      }
      if (SSL_get_error(ssl_.get(), written) != SSL_ERROR_WANT_READ || !Flush(deadline) || !Feed(deadline)) {
        alive_ = false;
        return false;
      }
    }
    return alive_;
  }

  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    if (!early_.empty()) {
      into += early_;
      early_.clear();
      return true;
    }
    bool waited = false;
    while (alive_) {
      std::array<char, kMaxChunkBytes> buffer{};
      const int got = SSL_read(ssl_.get(), buffer.data(), static_cast<int>(buffer.size()));
      if (got > 0) {
        into.append(buffer.data(), static_cast<std::size_t>(got));
        (void)Flush(deadline); // what arrived is handed out even if a reply to it failed
        return true;
      }
      const int error = SSL_get_error(ssl_.get(), got);
      if (error != SSL_ERROR_WANT_READ) {
        alive_ = false; // the server's closing alert, or a broken record
        closedBecause_ = error == SSL_ERROR_SSL ? LibraryError() : "it closed the connection";
        ERR_clear_error();
        return false;
      }
      if (!Flush(deadline)) {
        return false;
      }
      if (waited && SteadyClock::now() >= deadline) {
        return true;
      }
      const std::size_t before = fed_;
      if (!Feed(deadline)) {
        alive_ = false;
        return false;
      }
      waited = true;
      if (fed_ == before) {
        return true; // nothing came by the deadline, or a stop cut the wait short
      }
    }
    return false;
  }

  bool WaitAcknowledged(SteadyClock::time_point deadline) override {
    return tcp_->WaitAcknowledged(deadline);
  }

private:
  // Sends what OpenSSL has written into its outgoing buffer.
  bool Flush(SteadyClock::time_point deadline) {
    std::array<char, kMaxChunkBytes> buffer{};
    while (BIO_ctrl_pending(network_) > 0) {
      const int taken = BIO_read(network_, buffer.data(), static_cast<int>(buffer.size()));
      if (taken <= 0 ||
          !tcp_->SendAll(std::string_view(buffer.data(), static_cast<std::size_t>(taken)), deadline)) {
        alive_ = false;
        return false;
      }
    }
    return true;
  }

  // Waits until `deadline` for one piece from the stream below and hands it to OpenSSL.
  // False once the stream below has closed or failed.
  bool Feed(SteadyClock::time_point deadline) {
    std::string raw;
    const bool open = tcp_->Receive(raw, deadline);
    if (!raw.empty()) {
      if (fed_ == 0) {
        firstBytes_ = raw.substr(0, kInUseText.size());
      }
      fed_ += raw.size();
      (void)BIO_write(incoming_, raw.data(), static_cast<int>(raw.size()));
    }
    return open;
  }

  bool CertificateRequested() const {
    return SSL_get_ex_data(ssl_.get(), CertificateRequestedIndex()) != nullptr;
  }
  // What the server's first bytes say when they are no TLS record; kind None when they are.
  OpenFailure PlainAnswer() const;
  OpenFailure HandshakeFailure(const std::string& reason) const;
  bool AwaitClientCertificateVerdict(OpenFailure& failure);

  std::unique_ptr<ByteStream> tcp_;
  NetworkPort port_;
  std::unique_ptr<SSL, SslFree> ssl_;
  BIO* incoming_ = nullptr; // owned by ssl_: what the server sent, for OpenSSL to read
  BIO* network_ = nullptr;  // owned by ssl_: what OpenSSL wrote, for the server
  std::size_t fed_ = 0;
  std::string firstBytes_;
  std::string early_; // the server's first plaintext, read while awaiting a verdict
  std::string closedBecause_ = "it closed the connection"; // the library's words, once closed
  bool handshakeDone_ = false;
  bool alive_ = true;

  friend std::unique_ptr<ByteStream> kv58::StartTls(std::unique_ptr<ByteStream>, const NetworkPort&,
                                                    SteadyClock::time_point, OpenFailure&);
};

OpenFailure OpensslStream::PlainAnswer() const {
  if (fed_ == 0) {
    return {};
  }
  const auto first = static_cast<unsigned char>(firstBytes_[0]);
  if (first == kHandshakeRecord || first == kAlertRecord) {
    return {};
  }
  const std::string where = HostAndPort(port_);
  if (std::string_view(firstBytes_).starts_with(kInUseText)) {
    return {OpenFailure::Kind::InUse, where + " is in use by another client (the server said \"" +
                                          std::string(kInUseText) + "\", in clear)"};
  }
  if (first == kTelnetIac) {
    return {OpenFailure::Kind::TlsPlainServer, where + " speaks Telnet without TLS: use rfc2217://" + where};
  }
  return {OpenFailure::Kind::TlsPlainServer, where + " answers without TLS: use tcp://" + where};
}

OpenFailure OpensslStream::HandshakeFailure(const std::string& reason) const {
  const std::string where = HostAndPort(port_);
  if (CertificateRequested()) {
    return {OpenFailure::Kind::TlsClientCertRequired,
            port_.tlsSettings.certFile.empty()
                ? where + " wants a client certificate (" + reason + "): give one with ?cert=FILE&key=FILE"
                : where + " refused the client certificate " + port_.tlsSettings.certFile + " (" + reason +
                      ")"};
  }
  return {OpenFailure::Kind::TlsFailed, "the TLS handshake with " + where + " failed: " + reason};
}

bool OpensslStream::Handshake(SteadyClock::time_point deadline, OpenFailure& failure) {
  const std::string where = HostAndPort(port_);
  for (;;) {
    const int done = SSL_connect(ssl_.get());
    const int error = SSL_get_error(ssl_.get(), done);
    const bool flushed = Flush(deadline);
    if (const OpenFailure plain = PlainAnswer(); plain.kind != OpenFailure::Kind::None) {
      failure = plain;
      return false;
    }
    if (done == 1) {
      handshakeDone_ = true;
      return true;
    }
    if (error != SSL_ERROR_WANT_READ || !flushed) {
      failure = HandshakeFailure(flushed ? LibraryError() : "the connection broke");
      return false;
    }
    if (StopRequested()) {
      failure = {OpenFailure::Kind::Interrupted, "interrupted during the TLS handshake with " + where};
      return false;
    }
    if (SteadyClock::now() >= deadline) {
      failure = {
          OpenFailure::Kind::NoAnswer,
          "no answer to the TLS handshake from " + where + " within " + SecondsText(kNetworkStepTimeout) +
              (fed_ == 0 ? " (a raw TCP port without TLS stays silent: then use tcp://" + where + ")" : "")};
      return false;
    }
    if (!Feed(std::min(deadline, SteadyClock::now() + kStopPollInterval))) {
      if (const OpenFailure plain = PlainAnswer(); plain.kind != OpenFailure::Kind::None) {
        failure = plain;
      } else {
        failure = HandshakeFailure("it closed the connection");
        if (failure.kind == OpenFailure::Kind::TlsFailed) {
          failure.detail = where + " closed the connection during the TLS handshake";
        }
      }
      return false;
    }
  }
}

// Over TLS 1.3 a refused client certificate shows only after the handshake: the server's alert
// and close. Its first bytes, or a quiet spell, mean it took the certificate.
bool OpensslStream::AwaitClientCertificateVerdict(OpenFailure& failure) {
  const auto deadline = SteadyClock::now() + kClientCertificateVerdictWait;
  while (early_.empty() && SteadyClock::now() < deadline && !StopRequested()) {
    std::string piece;
    if (!Receive(piece, std::min(deadline, SteadyClock::now() + kStopPollInterval))) {
      failure = HandshakeFailure(closedBecause_);
      return false;
    }
    early_ += piece;
  }
  return true;
}

} // namespace

std::unique_ptr<ByteStream> StartTls(std::unique_ptr<ByteStream> tcp, const NetworkPort& port,
                                     SteadyClock::time_point deadline, OpenFailure& failure) {
  ERR_clear_error();
  std::string error;
  const CtxPointer ctx = ContextFor(port.tlsSettings, error);
  if (!ctx) {
    failure = {OpenFailure::Kind::TlsFailed, error};
    return nullptr;
  }
  auto stream = std::make_unique<OpensslStream>(std::move(tcp), port);
  stream->ssl_.reset(SSL_new(ctx.get()));
  BIO* incoming = BIO_new(BIO_s_mem());
  BIO* network = BIO_new(BIO_s_mem());
  if (!stream->ssl_ || incoming == nullptr || network == nullptr) {
    BIO_free(incoming);
    BIO_free(network);
    failure = {OpenFailure::Kind::TlsFailed, "cannot start TLS: " + LibraryError()};
    return nullptr;
  }
  BIO_set_mem_eof_return(incoming, -1); // an empty buffer means "wait for more", not the end
  SSL_set_bio(stream->ssl_.get(), incoming, network);
  stream->incoming_ = incoming;
  stream->network_ = network;
  const std::string serverName = ExpectedServerName(port);
  if (!IsIpLiteral(serverName)) {
    // The macro's cast: SSL_ctrl with the name as its pointer argument.
    std::string name = serverName;
    (void)SSL_ctrl(stream->ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, name.data());
  }
  if (!stream->Handshake(deadline, failure)) {
    return nullptr;
  }
  X509* leaf = SSL_get1_peer_certificate(stream->ssl_.get());
  if (leaf == nullptr) {
    failure = {OpenFailure::Kind::TlsUntrusted, HostAndPort(port) + " presented no certificate"};
    return nullptr;
  }
  const PresentedCertificate presented = Presented(stream->ssl_.get(), leaf);
  X509_free(leaf);
  failure = DecideTrust(port, presented);
  if (failure.kind != OpenFailure::Kind::None) {
    return nullptr;
  }
  if (stream->CertificateRequested() && SSL_version(stream->ssl_.get()) >= TLS1_3_VERSION &&
      !stream->AwaitClientCertificateVerdict(failure)) {
    return nullptr;
  }
  return stream;
}

} // namespace kv58
