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
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace kv58 {
namespace {

using Kind = OpenFailure::Kind;

// A TLS record: a five-byte header (type, version, length) and at most 2^14 bytes of plain
// text, which encryption may grow by up to 2048 (TLS 1.2).
constexpr std::size_t kRecordHeaderBytes = 5;
constexpr std::size_t kMaxRecordBodyBytes = 16384 + 2048;
constexpr unsigned char kRecordChangeCipherSpec = 0x14;
constexpr unsigned char kRecordAlert = 0x15;
constexpr unsigned char kRecordHandshake = 0x16;
constexpr unsigned char kRecordApplicationData = 0x17;
constexpr unsigned char kTelnetIac = 0xFF; // what an RFC 2217 port in clear says first
// What the handshake messages of the server that matter here start with.
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

std::string StatusText(SECURITY_STATUS status) {
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
    problem = "key= is not used on Windows: give the certificate with its key as a password-less PFX file "
              "(cert=FILE.pfx) or as one of your store's (cert=store:THUMBPRINT)";
    return false;
  }
  const std::string& cert = settings.certFile;
  if (cert.compare(0, kStorePrefix.size(), kStorePrefix) == 0) {
    const auto thumbprint = ThumbprintBytes(std::string_view(cert).substr(kStorePrefix.size()));
    if (!thumbprint) {
      problem = "cert=store: wants the certificate's SHA-1 thumbprint (40 hex digits)";
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
    problem = "the client certificate " + cert + " cannot be read";
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

// TLS 1.2 at least, 1.3 where the system has it: the newer credentials first, then the older
// ones with 1.2 and 1.3, then 1.2 alone, as the system accepts.
SECURITY_STATUS AcquireCredentials(PCCERT_CONTEXT clientCertificate, CredHandle& credentials) {
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
  if (!done) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
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

bool InStore(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  CertContext found(
      ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr));
  return found.handle != nullptr;
}

std::string ChainProblemText(DWORD errorStatus) {
  if ((errorStatus & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
    return "certificate has expired or is not yet valid";
  }
  if ((errorStatus & CERT_TRUST_IS_REVOKED) != 0) {
    return "certificate is revoked";
  }
  if ((errorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0) {
    return "certificate signature failure";
  }
  if ((errorStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0) {
    return "certificate is not for a TLS server";
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
    presented.chainProblem = "unable to get local issuer certificate (no certificate of the CA file is in "
                             "the server's chain)";
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
  } else {
    presented.chainVerified = true;
  }
}

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
      if (at(0) == kRecordAlert && length == 2) {
        alert_ = static_cast<unsigned char>(body[1]);
      } else if (at(0) == kRecordHandshake && handshake_.size() + length <= kMaxWatchedHandshakeBytes) {
        handshake_.append(body);
        ReadMessages();
      } else if (at(0) == kRecordChangeCipherSpec || at(0) == kRecordApplicationData) {
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

class SchannelStream final : public ByteStream {
public:
  SchannelStream(std::unique_ptr<ByteStream> tcp, const NetworkPort& port)
      : tcp_(std::move(tcp)), port_(port), where_(HostAndPort(port)), settings_(port.tlsSettings),
        expectedName_(ExpectedServerName(port)) {}

  ~SchannelStream() override {
    if (haveContext_) {
      SayGoodbye();
      (void)::DeleteSecurityContext(&context_);
    }
    if (haveCredentials_) {
      (void)::FreeCredentialsHandle(&credentials_);
    }
  }
  SchannelStream(const SchannelStream&) = delete;
  SchannelStream& operator=(const SchannelStream&) = delete;

  [[nodiscard]] bool Start(SteadyClock::time_point deadline, OpenFailure& failure) {
    return Credentials(failure) && Handshake(deadline, failure) && Trusted(failure) && Sizes(failure);
  }

  bool SendAll(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (!bytes.empty()) {
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
        return false;
      }
      record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      if (!tcp_->SendAll(record, deadline)) {
        return false;
      }
      bytes.remove_prefix(piece);
    }
    return true;
  }

  bool Receive(std::string& into, SteadyClock::time_point deadline) override {
    for (;;) {
      if (!plain_.empty()) {
        const std::size_t count = std::min(plain_.size(), kMaxChunkBytes);
        into.append(plain_, 0, count);
        plain_.erase(0, count);
        return true;
      }
      if (closed_) {
        return false;
      }
      switch (DecryptOneRecord()) {
      case Decrypted::Data:
        continue;
      case Decrypted::Closed:
        closed_ = true;
        continue;
      case Decrypted::NeedMore:
        break;
      }
      if (tcpClosed_) {
        closed_ = true; // closed without close_notify, or inside a record: nothing more will come
        continue;
      }
      const std::size_t before = incoming_.size();
      if (!tcp_->Receive(incoming_, deadline)) {
        tcpClosed_ = true;
        continue;
      }
      if (incoming_.size() == before) {
        return true; // nothing came by the deadline
      }
    }
  }

  bool WaitAcknowledged(SteadyClock::time_point deadline) override {
    return tcp_->WaitAcknowledged(deadline);
  }

private:
  enum class Decrypted { Data, Closed, NeedMore };

  [[nodiscard]] OpenFailure Failure(Kind kind, const std::string& words) const { return {kind, words}; }

  bool Credentials(OpenFailure& failure) {
    if (!settings_.certFile.empty() || !settings_.keyFile.empty()) {
      std::string problem;
      if (!LoadClientCertificate(settings_, client_, problem)) {
        failure = Failure(Kind::TlsFailed, "client certificate for " + where_ + ": " + problem);
        return false;
      }
    }
    if (!settings_.caFile.empty() && settings_.pinSha256.empty()) {
      std::string problem;
      if (!LoadCaFile(settings_.caFile, caStore_, problem)) {
        failure = Failure(Kind::TlsFailed, "TLS to " + where_ + ": " + problem);
        return false;
      }
    }
    const SECURITY_STATUS status = AcquireCredentials(client_.certificate.handle, credentials_);
    if (status != SEC_E_OK) {
      failure = Failure(Kind::TlsFailed,
                        "Windows offers no TLS 1.2 or later for " + where_ + ": " + StatusText(status));
      return false;
    }
    haveCredentials_ = true;
    return true;
  }

  // The handshake's messages through the inner stream, each answer awaited by `deadline`.
  bool Handshake(SteadyClock::time_point deadline, OpenFailure& failure) {
    // The name goes out as SNI; an IP literal is not sent (servers know no name for it).
    const std::wstring target = IsIpLiteral(expectedName_) ? std::wstring() : Wide(expectedName_);
    wchar_t* targetName = target.empty() ? nullptr : const_cast<wchar_t*>(target.c_str());
    constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                               ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;
    ULONG attributes = 0;
    bool needInput = false;
    for (bool first = true;; first = false) {
      if (needInput && !Awaited(deadline, failure)) {
        return false;
      }
      std::array<SecBuffer, 2> input{{
          {static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
          {0, SECBUFFER_EMPTY, nullptr},
      }};
      SecBufferDesc inputDesc{SECBUFFER_VERSION, static_cast<unsigned long>(input.size()), input.data()};
      AllocatedBuffers output;
      const SECURITY_STATUS status = ::InitializeSecurityContextW(
          &credentials_, first ? nullptr : &context_, targetName, kRequest, 0, 0,
          first ? nullptr : &inputDesc, 0, first ? &context_ : nullptr, &output.desc, &attributes, nullptr);
      if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
        haveContext_ = true;
      }
      if (!output.Token().empty() && !tcp_->SendAll(output.Token(), deadline) && status >= 0) {
        failure = Failure(Kind::Lost, where_ + " closed the connection during the TLS handshake");
        return false;
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        needInput = true;
        continue;
      }
      if (!first) {
        const std::size_t kept = input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0;
        watch_.Consumed(incoming_.size() - kept);
        incoming_.erase(0, incoming_.size() - kept);
      }
      if (status == SEC_E_OK) {
        return true;
      }
      if (status == SEC_I_CONTINUE_NEEDED) {
        needInput = incoming_.empty();
        continue;
      }
      failure = RefusalOf(status);
      return false;
    }
  }

  // More of the server's handshake, or the reason none came.
  bool Awaited(SteadyClock::time_point deadline, OpenFailure& failure) {
    const std::size_t before = incoming_.size();
    while (incoming_.size() == before) {
      if (StopRequested()) {
        failure = Failure(Kind::Interrupted, "interrupted during the TLS handshake with " + where_);
        return false;
      }
      if (SteadyClock::now() >= deadline) {
        failure = Failure(Kind::NoAnswer,
                          "no TLS answer from " + where_ + " within " + SecondsText(kNetworkStepTimeout));
        return false;
      }
      if (!tcp_->Receive(incoming_, NextWaitSlice(deadline)) && incoming_.size() == before) {
        failure = ClosedDuringHandshake();
        return false;
      }
    }
    if (!serverSpoke_) {
      serverSpoke_ = true;
      if (static_cast<unsigned char>(incoming_[0]) == kTelnetIac) {
        failure =
            Failure(Kind::TlsPlainServer, where_ + " speaks Telnet without TLS: use rfc2217://" + where_);
        return false;
      }
      if (static_cast<unsigned char>(incoming_[0]) < kRecordChangeCipherSpec ||
          static_cast<unsigned char>(incoming_[0]) > kRecordApplicationData) {
        failure =
            Failure(Kind::TlsPlainServer,
                    where_ + " answers without TLS: it looks like a port in clear (rfc2217:// or tcp://)");
        return false;
      }
    }
    watch_.Look(incoming_);
    return true;
  }

  OpenFailure ClosedDuringHandshake() const {
    if (watch_.Alert()) {
      return RefusalOf(SEC_E_ILLEGAL_MESSAGE);
    }
    if (watch_.CertificateRequested() && client_.certificate.handle != nullptr) {
      return Failure(Kind::TlsClientCertRequired,
                     where_ + " closed the connection after the client certificate " + settings_.certFile +
                         ": it does not accept that certificate");
    }
    return Failure(Kind::Lost, where_ + " closed the connection during the TLS handshake");
  }

  // The kind of a failed handshake, from what the server said in clear where it said anything.
  OpenFailure RefusalOf(SECURITY_STATUS status) const {
    const auto alert = watch_.Alert();
    if (status == SEC_I_INCOMPLETE_CREDENTIALS ||
        (alert && *alert == kAlertCertificateRequired && client_.certificate.handle == nullptr)) {
      return Failure(Kind::TlsClientCertRequired,
                     where_ +
                         " wants a client certificate: give one with cert=FILE.pfx or cert=store:THUMBPRINT");
    }
    const bool keyRefused = watch_.Ed25519Certificate() || status == SEC_E_ALGORITHM_MISMATCH ||
                            (!watch_.ServerHelloSeen() && alert &&
                             (*alert == kAlertHandshakeFailure || *alert == kAlertInsufficientSecurity));
    if (keyRefused) {
      return Failure(Kind::TlsUnsupportedKey,
                     where_ + " and Windows have no algorithm in common" +
                         (watch_.Ed25519Certificate() ? ": the server's key is Ed25519"
                                                      : ": the server's key is likely Ed25519") +
                         " (the default of ser2net's key tool), which Windows cannot use; " + kMakeEcKey);
    }
    if (alert && watch_.CertificateRequested() && client_.certificate.handle != nullptr) {
      return Failure(Kind::TlsClientCertRequired, where_ + " refused the client certificate " +
                                                      settings_.certFile + " (" + AlertName(*alert) + ")");
    }
    std::string words = "TLS handshake with " + where_ + " failed: " + StatusText(status);
    if (alert) {
      words += "; the server said: " + AlertName(*alert);
    }
    return Failure(Kind::TlsFailed, words);
  }

  bool Trusted(OpenFailure& failure) {
    PCCERT_CONTEXT remote = nullptr;
    const SECURITY_STATUS status =
        ::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
    if (status != SEC_E_OK || remote == nullptr) {
      failure = Failure(Kind::TlsFailed, where_ + " presented no certificate: " + StatusText(status));
      return false;
    }
    const CertContext leaf(remote);
    PresentedCertificate presented;
    presented.sha256 = Sha256Hex(leaf.handle->pbCertEncoded, leaf.handle->cbCertEncoded);
    if (presented.sha256.empty()) {
      failure =
          Failure(Kind::TlsFailed, "the fingerprint of " + where_ + "'s certificate cannot be computed");
      return false;
    }
    if (settings_.pinSha256.empty()) {
      if (caStore_.handle != nullptr) {
        VerifyWithCaFile(leaf.handle, caStore_.handle, presented);
      } else {
        VerifyWithSystemStore(leaf.handle, presented);
      }
      CollectNames(leaf.handle, presented);
    }
    failure = DecideTrust(port_, presented);
    return failure.kind == Kind::None;
  }

  bool Sizes(OpenFailure& failure) {
    const SECURITY_STATUS status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK || sizes_.cbMaximumMessage == 0) {
      failure = Failure(Kind::TlsFailed, "TLS with " + where_ + ": no record sizes: " + StatusText(status));
      return false;
    }
    return true;
  }

  // The first whole record of `incoming_` into `plain_`; none while one is still arriving.
  Decrypted DecryptOneRecord() {
    if (incoming_.size() < kRecordHeaderBytes) {
      return Decrypted::NeedMore;
    }
    const std::size_t body = (std::size_t{static_cast<unsigned char>(incoming_[3])} << 8) |
                             static_cast<unsigned char>(incoming_[4]);
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
    if (status == SEC_E_OK) {
      return Decrypted::Data;
    }
    if (status == SEC_I_RENEGOTIATE) {
      return AfterPostHandshakeMessage() ? Decrypted::Data : Decrypted::Closed;
    }
    return Decrypted::Closed; // close_notify (SEC_I_CONTEXT_EXPIRED), or a record that fails
  }

  // TLS 1.3 servers send messages after the handshake (session tickets): SChannel takes them
  // through InitializeSecurityContext.
  bool AfterPostHandshakeMessage() {
    std::array<SecBuffer, 2> input{{
        {static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
        {0, SECBUFFER_EMPTY, nullptr},
    }};
    SecBufferDesc inputDesc{SECBUFFER_VERSION, static_cast<unsigned long>(input.size()), input.data()};
    AllocatedBuffers output;
    ULONG attributes = 0;
    constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    const SECURITY_STATUS status =
        ::InitializeSecurityContextW(&credentials_, &context_, nullptr, kRequest, 0, 0, &inputDesc, 0,
                                     nullptr, &output.desc, &attributes, nullptr);
    if (!output.Token().empty() && !tcp_->SendAll(output.Token(), SteadyClock::now() + kNetworkStepTimeout)) {
      return false;
    }
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
      const std::size_t kept = input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0;
      incoming_.erase(0, incoming_.size() - std::min<std::size_t>(kept, incoming_.size()));
      return true;
    }
    return status == SEC_E_INCOMPLETE_MESSAGE;
  }

  // close_notify, if it leaves at once: a server need not wait for it.
  void SayGoodbye() {
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
    if (::ApplyControlToken(&context_, &tokenDesc) != SEC_E_OK) {
      return;
    }
    AllocatedBuffers output;
    ULONG attributes = 0;
    constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    (void)::InitializeSecurityContextW(&credentials_, &context_, nullptr, kRequest, 0, 0, nullptr, 0, nullptr,
                                       &output.desc, &attributes, nullptr);
    if (!output.Token().empty()) {
      (void)tcp_->SendAll(output.Token(), SteadyClock::now());
    }
  }

  std::unique_ptr<ByteStream> tcp_;
  NetworkPort port_;
  std::string where_;
  TlsSettings settings_;
  std::string expectedName_;
  ClientCertificate client_;
  CertStore caStore_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
  HandshakeWatch watch_;
  bool serverSpoke_ = false;
  std::string incoming_; // from the server, not yet decrypted: at most one record and one read beyond
  std::string plain_;    // decrypted, not yet handed out: at most one record's
  bool tcpClosed_ = false;
  bool closed_ = false;
};

} // namespace

std::unique_ptr<ByteStream> StartTls(std::unique_ptr<ByteStream> tcp, const NetworkPort& port,
                                     SteadyClock::time_point deadline, OpenFailure& failure) {
  auto stream = std::make_unique<SchannelStream>(std::move(tcp), port);
  if (!stream->Start(deadline, failure)) {
    return nullptr;
  }
  failure = OpenFailure{};
  return stream;
}

} // namespace kv58
