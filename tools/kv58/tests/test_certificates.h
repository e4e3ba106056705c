#pragma once
// Keys and certificates for tests of TLS to ser2net, made by the openssl tool in a folder of
// the test's own: a CA, servers it vouches for (P-256 "ec", RSA-2048 "rsa") for localhost and
// 127.0.0.1, one of them expired, one signed by another CA ("stranger"), the CA as a hashed
// folder ("cadir/"), and a client certificate ("client", for the user kv58client) that ser2net's
// auth folder ("auth/") allows.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace kv58::cli::test_support {

// What a shell command printed, or none when it failed.
inline std::optional<std::string> Output(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  std::string text;
  char chunk[256];
  while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
    text += chunk;
  }
  return pipe != nullptr && ::pclose(pipe) == 0 ? std::optional(text) : std::nullopt;
}

inline bool MakeCertificates(const std::filesystem::path& folder) {
  std::ofstream(folder / "make.sh") << R"(set -e
ec="ec -pkeyopt ec_paramgen_curve:P-256"
for ca in ca other-ca; do openssl req -x509 -newkey $ec -nodes -keyout $ca.key -out $ca.crt -days 30 -subj /CN=$ca; done
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > san
sign() {
  openssl req -newkey $2 -nodes -keyout $1.key -out $1.csr -subj /CN=$1
  openssl x509 -req -in $1.csr -CA $3.crt -CAkey $3.key -CAcreateserial -out $1.crt -days $4 -extfile san
}
sign ec "$ec" ca 30; sign rsa rsa:2048 ca 30; sign expired "$ec" ca -1; sign stranger "$ec" other-ca 30
mkdir cadir && cp ca.crt cadir/ && openssl rehash cadir
openssl req -x509 -newkey $ec -nodes -keyout client.key -out client.crt -days 30 -subj /CN=kv58client
mkdir -p auth/kv58client/allowed_certs && cp client.crt auth/kv58client/allowed_certs/
openssl rehash auth/kv58client/allowed_certs
)";
  return Output("cd '" + folder.string() + "' && sh make.sh >/dev/null").has_value();
}

// ser2net's TLS layer for the server `name` of `folder` ("ec", "rsa", ...), with `more` options.
inline std::string TlsLayer(const std::filesystem::path& folder, const std::string& name,
                            const std::string& more = "") {
  return "ssl(" + more + "key=" + (folder / (name + ".key")).string() +
         ",cert=" + (folder / (name + ".crt")).string() + ")";
}

// The certificate's SHA-256 as openssl prints it: "AB:CD:...".
inline std::string Fingerprint(const std::filesystem::path& folder, const std::string& name) {
  const std::string text =
      Output("openssl x509 -noout -fingerprint -sha256 -in '" + (folder / (name + ".crt")).string() + "'")
          .value_or("=");
  const std::string value = text.substr(text.find('=') + 1);
  return value.substr(0, value.find('\n'));
}

} // namespace kv58::cli::test_support
