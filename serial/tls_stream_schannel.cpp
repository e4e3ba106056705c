#include "serial/tls_kept.h"
#include "serial/tls_stream.h"

#include "common/stop_request.h"
#include "serial/system_message_win32.h"
#include "serial/tls_trust.h"

// After our own headers, as everywhere <windows.h> comes in.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
// SChannel's SCH_CREDENTIALS needs the blacklist declarations and <subauth.h>'s UNICODE_STRING.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
// After <subauth.h>:
#include <bcrypt.h>
#include <schannel.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv58 {
namespace {

using namespace std::chrono_literals;
using Kind = OpenFailure::Kind;

// TLS records open with a content type: 0x16 a handshake message, 0x15 an alert; then the
// version and the length of at most 2^14 bytes of plain text, which encryption may grow by
// up to 2048 (TLS 1.2).
constexpr unsigned char kChangeCipherSpecRecord = 0x14;
constexpr unsigned char kAlertRecord = 0x15;
constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kApplicationDataRecord = 0x17;
constexpr std::size_t kRecordHeaderBytes = 5;
constexpr std::size_t kMaxRecordBodyBytes = 16384 + 2048;
constexpr unsigned char kTelnetIac = 0xFF;
constexpr std::string_view kInUseText = "Port already in use";
// Over TLS 1.3 a server judges the client's certificate after the handshake has ended for the
// client: when one was given, its verdict (an alert, or its first bytes) is awaited this long.
constexpr auto kClientCertificateVerdictWait = 300ms;
// How long the closing alert may take on its way out.
constexpr auto kCloseNotifyWait = 100ms;

// The server's handshake messages that tell a refusal's cause.
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kServerCertificate = 11;
constexpr unsigned char kCertificateRequest = 13;
// The alerts that name a cause.
constexpr unsigned char kAlertHandshakeFailure = 40;
constexpr unsigned char kAlertBadCertificate = 42;
constexpr unsigned char kAlertCertificateUnknown = 46;
constexpr unsigned char kAlertUnknownCa = 48;
constexpr unsigned char kAlertAccessDenied = 49;
constexpr unsigned char kAlertInsufficientSecurity = 71;
constexpr unsigned char kAlertCertificateRequired = 116;
// The DER of the Ed25519 key's object identifier (1.3.101.112) in a certificate.
constexpr std::string_view kEd25519Oid{"\x06\x03\x2B\x65\x70", 5};
// How much of the server's handshake in clear is kept to learn a refusal's cause from.
constexpr std::size_t kMaxWatchedHandshakeBytes = 65536;

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of <wininet.h>, which the SSL policy also reads.
constexpr DWORD kIgnoreCommonName = 0x00001000;

// The commands that make a server key both systems can use, for the message that needs them.
constexpr const char* kMakeEcKey =
    "make an EC (P-256) key instead: gtlssh-keygen --algorithm ec serverkey ser2net, or openssl req "
    "-x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -subj /CN=NAME -addext "
    "subjectAltName=DNS:NAME -keyout ser2net.key -out ser2net.crt";

// SChannel's words for a status, with its number, which is what searches find.
std::string LibraryError(SECURITY_STATUS status) {
  std::array<char, 16> hex{};
  (void)std::snprintf(hex.data(), hex.size(), "0x%08lX", static_cast<unsigned long>(status));
  return SystemMessage(static_cast<std::uint32_t>(status)) + " (" + hex.data() + ")";
}

std::wstring Wide(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  (void)::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') {
    return {};
  }
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(length, 1)), '\0');
  (void)::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back(); // the terminating zero
  return narrow;
}

bool IsIpLiteral(const std::string& host) {
  std::array<unsigned char, 16> address{};
  return ::inet_pton(AF_INET, host.c_str(), address.data()) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address.data()) == 1;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::string bytes;
  std::array<char, 4096> chunk{};
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    bytes.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
    if (bytes.size() > limit) {
      return std::nullopt;
    }
  }
  return bytes;
}

// The handles SChannel and CryptoAPI give out, each freed by its own call.
struct CertStore {
  HCERTSTORE handle = nullptr;
  CertStore() = default;
  explicit CertStore(HCERTSTORE store) : handle(store) {}
  ~CertStore() {
    if (handle != nullptr) {
      (void)::CertCloseStore(handle, 0);
    }
  }
  CertStore(const CertStore&) = delete;
  CertStore& operator=(const CertStore&) = delete;
};

struct CertContext {
  PCCERT_CONTEXT handle = nullptr;
  CertContext() = default;
  explicit CertContext(PCCERT_CONTEXT context) : handle(context) {}
  ~CertContext() {
    if (handle != nullptr) {
      (void)::CertFreeCertificateContext(handle);
    }
  }
  CertContext(const CertContext&) = delete;
  CertContext& operator=(const CertContext&) = delete;
};

struct ChainContext {
  PCCERT_CHAIN_CONTEXT handle = nullptr;
  ~ChainContext() {
    if (handle != nullptr) {
      ::CertFreeCertificateChain(handle);
    }
  }
};

// Output buffers that SChannel allocated (ISC_REQ_ALLOCATE_MEMORY).
struct AllocatedBuffers {
  std::array<SecBuffer, 3> buffers{};
  SecBufferDesc desc{SECBUFFER_VERSION, static_cast<unsigned long>(3), buffers.data()};
  AllocatedBuffers() {
    buffers[0].BufferType = SECBUFFER_TOKEN;
    buffers[1].BufferType = SECBUFFER_ALERT;
    buffers[2].BufferType = SECBUFFER_EMPTY;
  }
  ~AllocatedBuffers() {
    for (SecBuffer& buffer : buffers) {
      if (buffer.pvBuffer != nullptr) {
        (void)::FreeContextBuffer(buffer.pvBuffer);
      }
    }
  }
  AllocatedBuffers(const AllocatedBuffers&) = delete;
  AllocatedBuffers& operator=(const AllocatedBuffers&) = delete;
  [[nodiscard]] std::string_view Token() const {
    return buffers[0].pvBuffer == nullptr
               ? std::string_view{}
               : std::string_view(static_cast<const char*>(buffers[0].pvBuffer), buffers[0].cbBuffer);
  }
};

// What the server said in clear during the handshake, for the words of a refusal: SChannel's
// own codes say little ("the token supplied to the function is invalid").
class HandshakeWatch {
public:
  // Looks at the records at the front of `incoming` that it has not seen yet.
  void Look(std::string_view incoming) {
    while (!encrypted_ && incoming.size() >= seen_ + kRecordHeaderBytes) {
      const auto at = [&](std::size_t i) { return static_cast<unsigned char>(incoming[seen_ + i]); };
      const std::size_t length = (std::size_t{at(3)} << 8) | at(4);
      if (incoming.size() < seen_ + kRecordHeaderBytes + length) {
        return;
      }
      const std::string_view body = incoming.substr(seen_ + kRecordHeaderBytes, length);
      if (at(0) == kAlertRecord && length == 2) {
        alert_ = static_cast<unsigned char>(body[1]);
      } else if (at(0) == kHandshakeRecord && handshake_.size() + length <= kMaxWatchedHandshakeBytes) {
        handshake_.append(body);
        ReadMessages();
      } else if (at(0) == kChangeCipherSpecRecord || at(0) == kApplicationDataRecord) {
        encrypted_ = true; // what follows is sealed
      }
      seen_ += kRecordHeaderBytes + length;
    }
  }
  // `consumed` bytes at the front of what Look saw have been handed to SChannel.
  void Consumed(std::size_t consumed) { seen_ -= std::min(seen_, consumed); }

  [[nodiscard]] std::optional<unsigned char> Alert() const { return alert_; }
  [[nodiscard]] bool ServerHelloSeen() const { return serverHello_; }
  [[nodiscard]] bool CertificateRequested() const { return certificateRequest_; }
  [[nodiscard]] bool Ed25519Certificate() const { return ed25519_; }

private:
  void ReadMessages() {
    while (handshake_.size() - read_ >= 4) {
      const auto at = [&](std::size_t i) { return static_cast<unsigned char>(handshake_[read_ + i]); };
      const std::size_t length = (std::size_t{at(1)} << 16) | (std::size_t{at(2)} << 8) | at(3);
      if (handshake_.size() - read_ - 4 < length) {
        return;
      }
      const unsigned char type = at(0);
      serverHello_ = serverHello_ || type == kServerHello;
      certificateRequest_ = certificateRequest_ || type == kCertificateRequest;
      if (type == kServerCertificate) {
        ed25519_ =
            std::string_view(handshake_).substr(read_ + 4, length).find(kEd25519Oid) != std::string::npos;
      }
      read_ += 4 + length;
    }
  }

  std::size_t seen_ = 0; // bytes of the incoming buffer already looked at
  std::string handshake_;
  std::size_t read_ = 0; // bytes of handshake_ read as whole messages
  bool encrypted_ = false;
  bool serverHello_ = false;
  bool certificateRequest_ = false;
  bool ed25519_ = false;
  std::optional<unsigned char> alert_;
};

std::string AlertName(unsigned char alert) {
  switch (alert) {
  case kAlertHandshakeFailure:
    return "handshake failure";
  case kAlertBadCertificate:
    return "bad certificate";
  case kAlertCertificateUnknown:
    return "certificate unknown";
  case kAlertUnknownCa:
    return "unknown CA";
  case kAlertAccessDenied:
    return "access denied";
  case kAlertInsufficientSecurity:
    return "insufficient security";
  case kAlertCertificateRequired:
    return "certificate required";
  default:
    return "alert " + std::to_string(alert);
  }
}

// The client's certificate: a password-less PFX file, or one of the user's store ("store:"
// and its SHA-1 thumbprint, as the certificate manager shows it).
struct ClientCertificate {
  CertStore store;
  CertContext certificate;
};

constexpr std::string_view kStorePrefix = "store:";

std::optional<std::string> ThumbprintBytes(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c == ' ' || c == ':') {
      continue;
    } else {
      return std::nullopt;
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  return bytes.size() == 20 && high < 0 ? std::optional<std::string>(bytes) : std::nullopt;
}

bool HasPrivateKey(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  return ::CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) !=
             FALSE ||
         ::CertGetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, nullptr, &size) !=
             FALSE ||
         ::CertGetCertificateContextProperty(certificate, CERT_NCRYPT_KEY_HANDLE_PROP_ID, nullptr, &size) !=
             FALSE;
}

bool LoadClientCertificate(const TlsSettings& settings, ClientCertificate& client, std::string& problem) {
  if (!settings.keyFile.empty()) {
    problem = "?key= is not used on Windows: give the certificate with its key as a password-less PFX file "
              "(?cert=FILE.pfx) or as one of your store's (?cert=store:THUMBPRINT)";
    return false;
  }
  const std::string& cert = settings.certFile;
  if (cert.compare(0, kStorePrefix.size(), kStorePrefix) == 0) {
    const auto thumbprint = ThumbprintBytes(std::string_view(cert).substr(kStorePrefix.size()));
    if (!thumbprint) {
      problem = "?cert=store: wants the certificate's SHA-1 thumbprint (40 hex digits)";
      return false;
    }
    client.store.handle = ::CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, L"MY");
    if (client.store.handle == nullptr) {
      problem = "your certificate store cannot be opened: " + SystemMessage(::GetLastError());
      return false;
    }
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(thumbprint->size()),
                         reinterpret_cast<BYTE*>(const_cast<char*>(thumbprint->data()))};
    client.certificate.handle = ::CertFindCertificateInStore(client.store.handle, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (client.certificate.handle == nullptr) {
      problem = "no certificate with thumbprint " + std::string(cert.substr(kStorePrefix.size())) +
                " in your store (Personal)";
      return false;
    }
    return true;
  }
  constexpr std::size_t kMaxPfxBytes = 1 << 20;
  const auto bytes = ReadWholeFile(cert, kMaxPfxBytes);
  if (!bytes) {
    problem = "the client certificate file " + cert + " cannot be read";
    return false;
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes->size()),
                       reinterpret_cast<BYTE*>(const_cast<char*>(bytes->data()))};
  if (::PFXIsPFXBlob(&blob) == FALSE) {
    problem = cert +
              " is not a PFX file: on Windows the client certificate and its key come as one "
              "password-less PFX (openssl pkcs12 -export -passout pass: -inkey KEY -in CERT -out FILE.pfx)";
    return false;
  }
  // Kept in memory for this connection only, not added to the user's key containers.
  client.store.handle = ::PFXImportCertStore(&blob, L"", PKCS12_NO_PERSIST_KEY);
  if (client.store.handle == nullptr) {
    client.store.handle = ::PFXImportCertStore(&blob, nullptr, PKCS12_NO_PERSIST_KEY);
  }
  if (client.store.handle == nullptr) {
    problem = "the PFX file " + cert +
              " cannot be imported (it must have no password; an EC key needs "
              "Windows 10 or later): " +
              SystemMessage(::GetLastError());
    return false;
  }
  for (PCCERT_CONTEXT found = ::CertEnumCertificatesInStore(client.store.handle, nullptr); found != nullptr;
       found = ::CertEnumCertificatesInStore(client.store.handle, found)) {
    if (HasPrivateKey(found)) {
      client.certificate.handle = ::CertDuplicateCertificateContext(found);
      (void)::CertFreeCertificateContext(found);
      return true;
    }
  }
  problem = "the PFX file " + cert + " holds no certificate with its private key";
  return false;
}

// The certificates of a PEM file, in a store of their own.
bool LoadCaFile(const std::string& path, CertStore& store, std::string& problem) {
  constexpr std::size_t kMaxCaFileBytes = 1 << 20;
  const auto text = ReadWholeFile(path, kMaxCaFileBytes);
  if (!text) {
    problem = "the CA file " + path + " cannot be read";
    return false;
  }
  store.handle = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  if (store.handle == nullptr) {
    problem = "no store for the CA file: " + SystemMessage(::GetLastError());
    return false;
  }
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t at = text->find(kBegin); at != std::string::npos; at = text->find(kBegin, at)) {
    const std::size_t end = text->find(kEnd, at);
    if (end == std::string::npos) {
      break;
    }
    const std::string block = text->substr(at, end + kEnd.size() - at);
    at = end + kEnd.size();
    DWORD size = 0;
    if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                               nullptr, &size, nullptr, nullptr) == FALSE) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                               der.data(), &size, nullptr, nullptr) != FALSE &&
        ::CertAddEncodedCertificateToStore(store.handle, X509_ASN_ENCODING, der.data(), size,
                                           CERT_STORE_ADD_ALWAYS, nullptr) != FALSE) {
      ++added;
    }
  }
  if (added == 0) {
    problem = "the CA file " + path + " holds no PEM certificate";
    return false;
  }
  return true;
}

// TLS 1.2 at least, 1.3 where the system has it: the newer credentials first, then the older
// ones with 1.2 and 1.3, then 1.2 alone, as the system accepts.
SECURITY_STATUS NewCredentials(PCCERT_CONTEXT clientCertificate, CredHandle& credentials) {
  // The server is checked by our own rules (serial/tls_trust.h) after the handshake, and a
  // client certificate is never picked on the user's behalf.
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  PCCERT_CONTEXT certificates[1] = {clientCertificate};
  const DWORD certificateCount = clientCertificate != nullptr ? 1 : 0;
  TimeStamp expiry{};

  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cCreds = certificateCount;
  modern.paCred = certificates;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SECURITY_STATUS status =
      ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &modern, nullptr, nullptr, &credentials, &expiry);
  for (const DWORD protocols :
       {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    if (status == SEC_E_OK) {
      break;
    }
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = flags;
    older.cCreds = certificateCount;
    older.paCred = certificates;
    older.grbitEnabledProtocols = protocols;
    status = ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                         nullptr, &older, nullptr, nullptr, &credentials, &expiry);
  }
  return status;
}

// What SChannel needs before a handshake: the credentials (protocols, the client's
// certificate) and the CA file's certificates; they outlive the connection's context.
struct Credentials {
  CredHandle handle{};
  bool acquired = false;
  ClientCertificate client;
  CertStore caStore;
  Credentials() = default;
  ~Credentials() {
    if (acquired) {
      (void)::FreeCredentialsHandle(&handle);
    }
  }
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
};

std::shared_ptr<Credentials> NewCredentialsFor(const TlsSettings& settings, std::string& error) {
  auto credentials = std::make_shared<Credentials>();
  std::string problem;
  if ((!settings.certFile.empty() || !settings.keyFile.empty()) &&
      !LoadClientCertificate(settings, credentials->client, problem)) {
    error = problem;
    return nullptr;
  }
  if (!settings.caFile.empty() && settings.pinSha256.empty() &&
      !LoadCaFile(settings.caFile, credentials->caStore, problem)) {
    error = problem;
    return nullptr;
  }
  const SECURITY_STATUS status = NewCredentials(credentials->client.certificate.handle, credentials->handle);
  if (status != SEC_E_OK) {
    error = "Windows offers no TLS 1.2 or later: " + LibraryError(status);
    return nullptr;
  }
  credentials->acquired = true;
  return credentials;
}

// Credentials by the files they were made from, each as it was when read, shared by the
// connections that use them: SChannel may then resume its sessions.
std::shared_ptr<Credentials> CredentialsFor(const TlsSettings& settings, std::string& error) {
  static KeptByFiles<Credentials> kept;
  // The CA file is read only when no pin decides alone.
  const std::string caFile = settings.pinSha256.empty() ? settings.caFile : std::string();
  return kept.Get(
      {caFile, settings.certFile, settings.keyFile},
      [&settings](std::string& why) { return NewCredentialsFor(settings, why); }, error);
}

// The SHA-256 of `size` bytes as hex; empty when CNG cannot say.
std::string Sha256Hex(const BYTE* data, DWORD size) {
  // BCRYPT_SHA256_ALG_HANDLE would spare the provider, but not every SDK names it.
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    return {};
  }
  std::array<unsigned char, 32> digest{};
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool done = ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
                    ::BCryptHashData(hash, const_cast<BYTE*>(data), size, 0) == 0 &&
                    ::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
  if (hash != nullptr) {
    (void)::BCryptDestroyHash(hash);
  }
  (void)::BCryptCloseAlgorithmProvider(algorithm, 0);
  return done ? HexOf(digest.data(), digest.size()) : std::string();
}

// subjectAltName's DNS and IP entries; the subject's common name when it has no DNS entry.
void CollectNames(PCCERT_CONTEXT certificate, PresentedCertificate& presented) {
  const CERT_INFO& info = *certificate->pCertInfo;
  if (const PCERT_EXTENSION extension =
          ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension)) {
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                              extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                              &size) != FALSE) {
      for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
          presented.dnsNames.push_back(Narrow(entry.pwszDNSName));
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          presented.ipAddresses.emplace_back(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                                             entry.IPAddress.cbData);
        }
      }
      ::LocalFree(names);
    }
  }
  if (presented.dnsNames.empty()) {
    std::array<wchar_t, 256> name{};
    if (::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                             name.data(), static_cast<DWORD>(name.size())) > 1) {
      presented.dnsNames.push_back(Narrow(name.data()));
    }
  }
}

bool InStore(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  CertContext found(
      ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr));
  return found.handle != nullptr;
}

// What every step of a connection's context asks of SChannel; the handshake asks more.
constexpr ULONG kSessionRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

// Revocation is not checked: displays often sit where no revocation list can be fetched.
constexpr DWORD kRevocationUnchecked =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::string ChainProblemText(DWORD errorStatus) {
  // The first that applies, in the words OpenSSL uses where it has them.
  static constexpr std::pair<DWORD, const char*> kProblems[] = {
      {CERT_TRUST_IS_NOT_TIME_VALID, "certificate has expired or is not yet valid"},
      {CERT_TRUST_IS_REVOKED, "certificate is revoked"},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "certificate signature failure"},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "certificate is not for a TLS server"},
      {CERT_TRUST_IS_PARTIAL_CHAIN, "unable to get local issuer certificate"},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, "the chain ends in a root the system does not trust"},
  };
  for (const auto& [flag, words] : kProblems) {
    if ((errorStatus & flag) != 0) {
      return words;
    }
  }
  return "the chain is not valid (CryptoAPI trust status 0x" + [errorStatus] {
    std::array<char, 16> hex{};
    (void)std::snprintf(hex.data(), hex.size(), "%08lX", static_cast<unsigned long>(errorStatus));
    return std::string(hex.data());
  }() + ")";
}

// Whether the CA file, and only it, vouches for the server's chain: the chain is built with
// the server's certificates and the file's, and one of its certificates must be the file's.
void VerifyWithCaFile(PCCERT_CONTEXT leaf, HCERTSTORE caStore, PresentedCertificate& presented) {
  CertStore both(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (both.handle == nullptr) {
    presented.chainProblem = "no store for the chain: " + SystemMessage(::GetLastError());
    return;
  }
  (void)::CertAddStoreToCollection(both.handle, caStore, 0, 0);
  if (leaf->hCertStore != nullptr) {
    (void)::CertAddStoreToCollection(both.handle, leaf->hCertStore, 0, 0);
  }
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  ChainContext chain;
  if (::CertGetCertificateChain(nullptr, leaf, nullptr, both.handle, &parameters, 0, nullptr,
                                &chain.handle) == FALSE) {
    presented.chainProblem = "the chain cannot be built: " + SystemMessage(::GetLastError());
    return;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain.handle->rgpChain[0];
  bool vouched = false;
  for (DWORD i = 0; i < simple.cElement && !vouched; ++i) {
    vouched = InStore(caStore, simple.rgpElement[i]->pCertContext);
  }
  // The file stands in for the system's roots, so an unknown root and a revocation nobody
  // could check are no faults here.
  const DWORD ignored =
      CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  const DWORD errors = chain.handle->TrustStatus.dwErrorStatus & ~ignored;
  if (!vouched) {
    presented.chainProblem = "no certificate of the CA file is in the server's chain";
  } else if (errors != 0) {
    presented.chainProblem = ChainProblemText(errors);
  } else {
    presented.chainVerified = true;
  }
}

// Whether the system's store and its policies vouch for the server's chain; the name is
// checked apart, by the shared rules.
void VerifyWithSystemStore(PCCERT_CONTEXT leaf, PresentedCertificate& presented) {
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  LPSTR serverUsage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
  ChainContext chain;
  if (::CertGetCertificateChain(nullptr, leaf, nullptr, leaf->hCertStore, &parameters, 0, nullptr,
                                &chain.handle) == FALSE) {
    presented.chainProblem = "the chain cannot be built: " + SystemMessage(::GetLastError());
    return;
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = kIgnoreCommonName;
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.handle, &policy, &status) == FALSE) {
    presented.chainProblem = "the system's policy cannot be asked: " + SystemMessage(::GetLastError());
  } else if (status.dwError != 0) {
    presented.chainProblem = SystemMessage(status.dwError);
  } else if (const DWORD errors = chain.handle->TrustStatus.dwErrorStatus & ~kRevocationUnchecked;
             errors != 0) {
    // Wine's policy passes chains that its own engine marks (a root no store holds).
    presented.chainProblem = ChainProblemText(errors);
  } else {
    presented.chainVerified = true;
  }
}

// What the server's certificate shows: its fingerprint, whether the CA file (when one was
// given, else the system's store) vouches for it, and its names. A pin decides alone, so
// with one the chain is not asked.
PresentedCertificate Presented(PCCERT_CONTEXT leaf, HCERTSTORE caStore, bool pinned) {
  PresentedCertificate presented;
  presented.sha256 = Sha256Hex(leaf->pbCertEncoded, leaf->cbCertEncoded);
  if (!pinned) {
    if (caStore != nullptr) {
      VerifyWithCaFile(leaf, caStore, presented);
    } else {
      VerifyWithSystemStore(leaf, presented);
    }
  }
  CollectNames(leaf, presented);
  return presented;
}

class SchannelStream final : public ByteStream {
public:
  SchannelStream(std::unique_ptr<ByteStream> tcp, NetworkPort port, std::shared_ptr<Credentials> credentials)
      : tcp_(std::move(tcp)), port_(std::move(port)), credentials_(std::move(credentials)) {}
  ~SchannelStream() override {
    if (haveContext_) {
      if (handshakeDone_ && alive_) {
        SayGoodbye();
      }
      (void)::DeleteSecurityContext(&context_);
    }
  }
  SchannelStream(const SchannelStream&) = delete;
  SchannelStream& operator=(const SchannelStream&) = delete;

  bool Handshake(SteadyClock::time_point deadline, OpenFailure& failure);

  bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (alive_ && !bytes.empty()) {
      const std::size_t piece = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
      std::string record(sizes_.cbHeader + piece + sizes_.cbTrailer, '\0');
      std::copy_n(bytes.data(), piece, record.begin() + sizes_.cbHeader);
      std::array<SecBuffer, 4> buffers{{
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr},
      }};
      SecBufferDesc desc{SECBUFFER_VERSION, static_cast<unsigned long>(buffers.size()), buffers.data()};
      if (::EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
        alive_ = false;
        return false;
      }
      record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      if (!Flush(record, deadline)) {
        return false;
      }
      bytes.remove_prefix(piece);
    }
    return alive_;
  }

  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    Fill(deadline);
    if (plain_.empty()) {
      return alive_; // nothing came by the deadline, or the server closed
    }
    const std::size_t count = std::min(plain_.size(), kMaxChunkBytes);
    into.append(plain_, 0, count);
    plain_.erase(0, count);
    return true;
  }

  bool WaitAcknowledged(SteadyClock::time_point deadline) override {
    return tcp_->WaitAcknowledged(deadline);
  }

private:
  enum class Decrypted { Data, Closed, NeedMore };

  // Sends a record or a token SChannel made for the server.
  bool Flush(std::string_view bytes, SteadyClock::time_point deadline) {
    if (!bytes.empty() && !tcp_->SendAll(bytes, deadline)) {
      alive_ = false;
      return false;
    }
    return true;
  }

  // Waits until `deadline` for one piece from the stream below. False once the stream below
  // has closed or failed.
  bool Feed(SteadyClock::time_point deadline) {
    const std::size_t before = incoming_.size();
    const bool open = tcp_->Receive(incoming_, deadline);
    if (incoming_.size() > before) {
      if (fed_ == 0) {
        firstBytes_ = incoming_.substr(0, kInUseText.size());
      }
      fed_ += incoming_.size() - before;
      if (!handshakeDone_) {
        watch_.Look(incoming_);
      }
    }
    tcpClosed_ = tcpClosed_ || !open;
    return open;
  }

  // Decrypts until there is plain text to hand out, the deadline has passed or the server has
  // closed. Holds at most one record beyond what was handed out.
  void Fill(SteadyClock::time_point deadline) {
    while (plain_.empty() && alive_) {
      const Decrypted decrypted = DecryptOneRecord();
      if (decrypted == Decrypted::Data) {
        continue;
      }
      if (decrypted == Decrypted::Closed || tcpClosed_) {
        alive_ = false; // close_notify, a broken record, or a close without either
        return;
      }
      const std::size_t before = incoming_.size();
      if (Feed(deadline) && incoming_.size() == before) {
        return;
      }
    }
  }

  // The first whole record of `incoming_` into `plain_`; none while one is still arriving.
  Decrypted DecryptOneRecord();
  // One step of the context on the bytes that have arrived (on none when `first`: it makes the
  // context): its status, its answer in `output`, and in `unread` how many of the arrived bytes
  // it left for the next step.
  SECURITY_STATUS StepContext(ULONG request, wchar_t* targetName, bool first, AllocatedBuffers& output,
                              std::size_t& unread);
  // TLS 1.3 servers send messages after the handshake (session tickets): SChannel takes them
  // through InitializeSecurityContext.
  bool AfterPostHandshakeMessage();
  // close_notify, if it leaves soon: a server need not wait for it.
  void SayGoodbye();

  bool Sizes(OpenFailure& failure);
  // Over TLS 1.3 the server judges a client certificate after the client's handshake ended.
  [[nodiscard]] bool ClientCertificateJudgedLater();
  // What the server's first bytes say when they are no TLS record; kind None when they are.
  OpenFailure PlainAnswer() const;
  OpenFailure HandshakeFailure(SECURITY_STATUS status, const std::string& reason) const;
  bool AwaitClientCertificateVerdict(OpenFailure& failure);

  std::unique_ptr<ByteStream> tcp_;
  NetworkPort port_;
  std::shared_ptr<Credentials> credentials_; // shared with other connections: SChannel allows that
  CtxtHandle context_{};
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
  HandshakeWatch watch_;
  std::size_t fed_ = 0;
  std::string firstBytes_;
  std::string incoming_; // from the server, not yet decrypted: at most one record and one read beyond
  std::string plain_;    // decrypted, not yet handed out: at most one record's
  bool tcpClosed_ = false;
  bool handshakeDone_ = false;
  bool alive_ = true;

  friend std::unique_ptr<ByteStream> kv58::StartTls(std::unique_ptr<ByteStream>, const NetworkPort&,
                                                    SteadyClock::time_point, OpenFailure&);
};

SchannelStream::Decrypted SchannelStream::DecryptOneRecord() {
  if (incoming_.size() < kRecordHeaderBytes) {
    return Decrypted::NeedMore;
  }
  const std::size_t body =
      (std::size_t{static_cast<unsigned char>(incoming_[3])} << 8) | static_cast<unsigned char>(incoming_[4]);
  if (body > kMaxRecordBodyBytes) {
    return Decrypted::Closed; // no TLS peer sends such a record
  }
  const std::size_t length = kRecordHeaderBytes + body;
  if (incoming_.size() < length) {
    return Decrypted::NeedMore;
  }
  std::array<SecBuffer, 4> buffers{{
      {static_cast<unsigned long>(length), SECBUFFER_DATA, incoming_.data()},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr},
  }};
  SecBufferDesc desc{SECBUFFER_VERSION, static_cast<unsigned long>(buffers.size()), buffers.data()};
  const bool alert = static_cast<unsigned char>(incoming_[0]) == kAlertRecord;
  const std::size_t plainBefore = plain_.size();
  const SECURITY_STATUS status = ::DecryptMessage(&context_, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    return Decrypted::Closed; // a whole record that SChannel finds short: the stream is broken
  }
  std::size_t unused = 0;
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && status == SEC_E_OK) {
      plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    } else if (buffer.BufferType == SECBUFFER_EXTRA) {
      unused = buffer.cbBuffer;
    }
  }
  incoming_.erase(0, length - std::min(unused, length));
  if (status == SEC_E_OK && alert && plain_.size() == plainBefore) {
    // The server's alert (TLS 1.2 shows the record's type): close_notify, which Windows
    // reports as SEC_I_CONTEXT_EXPIRED but Wine's SChannel as an empty record.
    return Decrypted::Closed;
  }
  if (status == SEC_E_OK) {
    return Decrypted::Data;
  }
  if (status == SEC_I_RENEGOTIATE) {
    return AfterPostHandshakeMessage() ? Decrypted::Data : Decrypted::Closed;
  }
  return Decrypted::Closed; // close_notify (SEC_I_CONTEXT_EXPIRED), or a record that fails
}

SECURITY_STATUS SchannelStream::StepContext(ULONG request, wchar_t* targetName, bool first,
                                            AllocatedBuffers& output, std::size_t& unread) {
  std::array<SecBuffer, 2> input{{
      {static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
      {0, SECBUFFER_EMPTY, nullptr},
  }};
  SecBufferDesc inputDesc{SECBUFFER_VERSION, static_cast<unsigned long>(input.size()), input.data()};
  ULONG attributes = 0;
  const SECURITY_STATUS status = ::InitializeSecurityContextW(
      &credentials_->handle, first ? nullptr : &context_, targetName, request, 0, 0,
      first ? nullptr : &inputDesc, 0, first ? &context_ : nullptr, &output.desc, &attributes, nullptr);
  unread =
      input[1].BufferType == SECBUFFER_EXTRA ? std::min<std::size_t>(input[1].cbBuffer, incoming_.size()) : 0;
  return status;
}

bool SchannelStream::AfterPostHandshakeMessage() {
  AllocatedBuffers output;
  std::size_t unread = 0;
  const SECURITY_STATUS status = StepContext(kSessionRequest, nullptr, false, output, unread);
  if (!Flush(output.Token(), SteadyClock::now() + kNetworkStepTimeout)) {
    return false;
  }
  if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
    incoming_.erase(0, incoming_.size() - unread);
    return true;
  }
  return status == SEC_E_INCOMPLETE_MESSAGE;
}

void SchannelStream::SayGoodbye() {
  DWORD shutdown = SCHANNEL_SHUTDOWN;
  SecBuffer token{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
  SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
  if (::ApplyControlToken(&context_, &tokenDesc) != SEC_E_OK) {
    return;
  }
  AllocatedBuffers output;
  ULONG attributes = 0;
  (void)::InitializeSecurityContextW(&credentials_->handle, &context_, nullptr, kSessionRequest, 0, 0,
                                     nullptr, 0, nullptr, &output.desc, &attributes, nullptr);
  (void)Flush(output.Token(), SteadyClock::now() + kCloseNotifyWait);
}

bool SchannelStream::Sizes(OpenFailure& failure) {
  const SECURITY_STATUS status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
  if (status != SEC_E_OK || sizes_.cbMaximumMessage == 0) {
    failure = {Kind::TlsFailed,
               "TLS with " + HostAndPort(port_) + " gives no record sizes: " + LibraryError(status)};
    return false;
  }
  return true;
}

bool SchannelStream::ClientCertificateJudgedLater() {
  SecPkgContext_ConnectionInfo info{};
  return credentials_->client.certificate.handle != nullptr &&
         ::QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK &&
         (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
}

OpenFailure SchannelStream::PlainAnswer() const {
  if (fed_ == 0) {
    return {};
  }
  const auto first = static_cast<unsigned char>(firstBytes_[0]);
  if (first >= kChangeCipherSpecRecord && first <= kApplicationDataRecord) {
    return {};
  }
  const std::string where = HostAndPort(port_);
  if (std::string_view(firstBytes_).starts_with(kInUseText)) {
    return {Kind::InUse, where + " is in use by another client (the server said \"" +
                             std::string(kInUseText) + "\", in clear)"};
  }
  if (first == kTelnetIac) {
    return {Kind::TlsPlainServer, where + " speaks Telnet without TLS: use rfc2217://" + where};
  }
  return {Kind::TlsPlainServer, where + " answers without TLS: use tcp://" + where};
}

// The kind of a failed handshake, from what the server said in clear where it said anything:
// SChannel's own codes say little ("the token supplied to the function is invalid").
OpenFailure SchannelStream::HandshakeFailure(SECURITY_STATUS status, const std::string& reason) const {
  const std::string where = HostAndPort(port_);
  const std::string& certFile = port_.tlsSettings.certFile;
  const bool certificateGiven = credentials_->client.certificate.handle != nullptr;
  const auto alert = watch_.Alert();
  if (!certificateGiven && (status == SEC_I_INCOMPLETE_CREDENTIALS || watch_.CertificateRequested() ||
                            alert == kAlertCertificateRequired)) {
    return {Kind::TlsClientCertRequired,
            where + " wants a client certificate: give one with ?cert=FILE.pfx or ?cert=store:THUMBPRINT"};
  }
  const bool noCommonAlgorithm =
      !watch_.ServerHelloSeen() && (alert == kAlertHandshakeFailure || alert == kAlertInsufficientSecurity);
  if (watch_.Ed25519Certificate() || status == SEC_E_ALGORITHM_MISMATCH || noCommonAlgorithm) {
    return {Kind::TlsUnsupportedKey,
            where + " and Windows have no algorithm in common" +
                (watch_.Ed25519Certificate() ? ": the server's key is Ed25519"
                                             : ": the server's key is likely Ed25519") +
                " (the default of ser2net's key tool), which Windows cannot use; " + kMakeEcKey};
  }
  const std::string said = alert ? AlertName(*alert) : reason;
  if (certificateGiven && watch_.CertificateRequested()) {
    return {Kind::TlsClientCertRequired,
            where + " refused the client certificate " + certFile + " (" + said + ")"};
  }
  if (status == SEC_E_OK) { // the server closed
    return {Kind::TlsFailed, where + " closed the connection during the TLS handshake" +
                                 (alert ? " (" + said + ")" : std::string())};
  }
  return {Kind::TlsFailed, "the TLS handshake with " + where + " failed: " + reason +
                               (alert ? "; the server said: " + said : std::string())};
}

bool SchannelStream::Handshake(SteadyClock::time_point deadline, OpenFailure& failure) {
  const std::string where = HostAndPort(port_);
  // The name goes out as SNI; an IP literal is not sent (servers know no name for it).
  const std::string serverName = ExpectedServerName(port_);
  const std::wstring target = IsIpLiteral(serverName) ? std::wstring() : Wide(serverName);
  wchar_t* targetName = target.empty() ? nullptr : const_cast<wchar_t*>(target.c_str());
  constexpr ULONG kRequest =
      kSessionRequest | ISC_REQ_EXTENDED_ERROR | ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;
  const bool certificateGiven = credentials_->client.certificate.handle != nullptr;
  bool needInput = false;
  for (bool first = true;; first = false) {
    while (needInput) {
      if (StopRequested()) {
        failure = {Kind::Interrupted, "interrupted during the TLS handshake with " + where};
        return false;
      }
      if (SteadyClock::now() >= deadline) {
        failure = {Kind::NoAnswer,
                   "no answer to the TLS handshake from " + where + " within " +
                       SecondsText(kNetworkStepTimeout) +
                       (fed_ == 0 ? " (a raw TCP port without TLS stays silent: then use tcp://" + where + ")"
                                  : "")};
        return false;
      }
      const std::size_t before = fed_;
      const bool open = Feed(std::min(deadline, SteadyClock::now() + kStopPollInterval));
      if (const OpenFailure plain = PlainAnswer(); plain.kind != Kind::None) {
        failure = plain;
        return false;
      }
      if (!open && fed_ == before) {
        failure = HandshakeFailure(SEC_E_OK, "it closed the connection");
        return false;
      }
      needInput = fed_ == before;
    }
    AllocatedBuffers output;
    std::size_t unread = 0;
    const SECURITY_STATUS status = StepContext(kRequest, targetName, first, output, unread);
    haveContext_ = haveContext_ || (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED));
    if (!Flush(output.Token(), deadline) && status >= 0) {
      failure = HandshakeFailure(SEC_E_OK, "it closed the connection");
      return false;
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    if (!first) {
      watch_.Consumed(incoming_.size() - unread);
      incoming_.erase(0, incoming_.size() - unread);
    }
    if (status == SEC_E_OK && watch_.CertificateRequested() && !certificateGiven) {
      // Windows stops at the server's request (SEC_I_INCOMPLETE_CREDENTIALS); Wine's SChannel
      // goes on without a certificate, and the server closes the connection afterwards.
      failure = HandshakeFailure(SEC_I_INCOMPLETE_CREDENTIALS, "");
      return false;
    }
    if (status == SEC_E_OK) {
      handshakeDone_ = true;
      return true;
    }
    if (status == SEC_I_CONTINUE_NEEDED) {
      needInput = incoming_.empty();
      continue;
    }
    failure = HandshakeFailure(status, LibraryError(status));
    return false;
  }
}

bool SchannelStream::AwaitClientCertificateVerdict(OpenFailure& failure) {
  const auto deadline = SteadyClock::now() + kClientCertificateVerdictWait;
  while (plain_.empty() && alive_ && SteadyClock::now() < deadline && !StopRequested()) {
    Fill(std::min(deadline, SteadyClock::now() + kStopPollInterval));
  }
  if (plain_.empty() && !alive_) {
    failure = {Kind::TlsClientCertRequired, HostAndPort(port_) + " refused the client certificate " +
                                                port_.tlsSettings.certFile + " (it closed the connection)"};
    return false;
  }
  return true;
}

} // namespace

std::unique_ptr<ByteStream> StartTls(std::unique_ptr<ByteStream> tcp, const NetworkPort& port,
                                     SteadyClock::time_point deadline, OpenFailure& failure) {
  const std::string where = HostAndPort(port);
  std::string error;
  auto credentials = CredentialsFor(port.tlsSettings, error);
  if (!credentials) {
    failure = {Kind::TlsFailed, "TLS to " + where + ": " + error};
    return nullptr;
  }
  auto stream = std::make_unique<SchannelStream>(std::move(tcp), port, std::move(credentials));
  if (!stream->Handshake(deadline, failure)) {
    return nullptr;
  }
  PCCERT_CONTEXT remote = nullptr;
  if (::QueryContextAttributesW(&stream->context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
      remote == nullptr) {
    failure = {Kind::TlsUntrusted, where + " presented no certificate"};
    return nullptr;
  }
  const CertContext leaf(remote);
  const PresentedCertificate presented =
      Presented(leaf.handle, stream->credentials_->caStore.handle, !port.tlsSettings.pinSha256.empty());
  if (presented.sha256.empty()) {
    failure = {Kind::TlsFailed, "the fingerprint of " + where + "'s certificate cannot be computed"};
    return nullptr;
  }
  failure = DecideTrust(port, presented);
  if (failure.kind != Kind::None || !stream->Sizes(failure)) {
    return nullptr;
  }
  if (stream->ClientCertificateJudgedLater() && !stream->AwaitClientCertificateVerdict(failure)) {
    return nullptr;
  }
  return stream;
}

} // namespace kv58
