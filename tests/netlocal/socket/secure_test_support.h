#pragma once

// Identities, openssl peers and pairs of secure sockets for the TLS tests.

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "netlocal/socket/sec_trust.h"
#include "netlocal/socket/socket_test_support.h"

extern char** environ;

namespace vistrelle::netlocal::testing {

// A P-256 key and a self-signed certificate for "localhost" and 127.0.0.1,
// as PEM (key first), made fresh for the test program.
struct Identity {
  std::string keyPem;
  std::string certPem;
  std::string both() const { return keyPem + certPem; }
};

inline const Identity& identity() {
  static const Identity made = [] {
    Identity result;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* san =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(cert, key, EVP_sha256());
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    result.keyPem.assign(data, static_cast<size_t>(length));
    BIO_reset(bio);
    PEM_write_bio_X509(bio, cert);
    length = BIO_get_mem_data(bio, &data);
    result.certPem.assign(data, static_cast<size_t>(length));
    BIO_free(bio);
    X509_free(cert);
    EVP_PKEY_free(key);
    return result;
  }();
  return made;
}

inline Value::Map serverSettings() {
  return Value::Map{{kCFStreamSSLIsServer, true},
                    {kCFStreamSSLCertificates, Value::List{identity().both()}}};
}

inline Value::Map manualTrustClientSettings() {
  return Value::Map{{kCFStreamSSLPeerName, "localhost"},
                    {GCDAsyncSocketManuallyEvaluateTrust, true}};
}

inline void trustEverything(RecordingDelegate& delegate) {
  delegate.onTrust = [](const GCDAsyncSocketPtr&, const std::shared_ptr<SecTrust>&,
                        std::function<void(bool)> completion) {
    completion(true);
    return true;
  };
}

// An `openssl` command with its standard input and output on pipes.
class OpensslProcess {
 public:
  explicit OpensslProcess(std::vector<std::string> args) {
    int in[2], out[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    args.insert(args.begin(), "openssl");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_.reset(in[1]);
    stdout_.reset(out[0]);
  }
  ~OpensslProcess() { kill(); }

  void send(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(stdin_.get(), text.data() + done, text.size() - done);
      ASSERT_GT(n, 0) << std::strerror(errno);
      done += static_cast<size_t>(n);
    }
  }
  // Waits until the output holds `text`; returns all output so far.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entry{stdout_.get(), POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t n = ::read(stdout_.get(), buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  const std::string& output() const { return output_; }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  UniqueFd stdin_;
  UniqueFd stdout_;
  std::string output_;
};

// The identity as files for the openssl tools.
struct IdentityFiles {
  TempDir dir;
  std::string key = dir.path() + "/key.pem";
  std::string cert = dir.path() + "/cert.pem";
  IdentityFiles() {
    std::ofstream(key) << identity().keyPem;
    std::ofstream(cert) << identity().certPem;
  }
};

// openssl s_server on a system-chosen port, serving one connection.
struct OpensslServer {
  IdentityFiles files;
  OpensslProcess process{{"s_server", "-naccept", "1", "-accept", "127.0.0.1:0", "-cert",
                          files.cert, "-key", files.key}};
  uint16_t port = 0;
  OpensslServer() {
    EXPECT_TRUE(process.waitForOutput("ACCEPT")) << process.output();
    EXPECT_TRUE(process.waitForOutput("\n"));
    const std::string& text = process.output();
    const size_t colon = text.rfind(':', text.find('\n', text.find("ACCEPT")));
    port = static_cast<uint16_t>(std::stoi(text.substr(colon + 1)));
  }
};

// Our client connected to `port`, secured with `settings`.
inline GCDAsyncSocketPtr secureClient(Fixture& fixture, uint16_t port, Value::Map settings) {
  auto socket = fixture.makeSocket();
  EXPECT_TRUE(socket->connectToHost("127.0.0.1", port));
  socket->startTLS(std::move(settings));
  return socket;
}

// Both ends ours.
struct SecurePair {
  Fixture fixture;
  GCDAsyncSocketPtr listener = fixture.makeSocket();
  GCDAsyncSocketPtr server;
  GCDAsyncSocketPtr client = fixture.makeSocket();

  SecurePair() {
    EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    EXPECT_TRUE(client->connectToHost("127.0.0.1", listener->localPort4()));
    server = fixture.delegate->waitFor("accept").newSocket;
    fixture.delegate->waitFor("connect");
    fixture.delegate->clearSockets();
  }
  RecordingDelegate& delegate() { return *fixture.delegate; }
};

// A key and certificate as PEM (key first in both()).
struct Credentials {
  std::string keyPem;
  std::string certPem;
  std::string both() const { return keyPem + certPem; }
};

// A P-256 certificate for `name` (a DNS name, and 127.0.0.1 as well for
// "localhost"), valid from `notBefore` to `notAfter` seconds from now,
// signed by `issuer` or by itself.  `authority`: a CA that may sign others.
inline Credentials makeCredentials(const std::string& name, long notBefore, long notAfter,
                                   const Credentials* issuer = nullptr, bool authority = false) {
  static long serial = 100;
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
  X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
  X509_set_pubkey(cert, key);
  X509_NAME* subject = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  EVP_PKEY* signingKey = key;
  X509* issuerCert = cert;
  if (issuer) {
    BIO* keyBio = BIO_new_mem_buf(issuer->keyPem.data(), static_cast<int>(issuer->keyPem.size()));
    signingKey = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    BIO* certBio =
        BIO_new_mem_buf(issuer->certPem.data(), static_cast<int>(issuer->certPem.size()));
    issuerCert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
  }
  X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuerCert, cert, nullptr, nullptr, 0);
  auto addExtension = [&](int nid, const std::string& value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  };
  if (authority) {
    addExtension(NID_basic_constraints, "critical,CA:TRUE");
    addExtension(NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(NID_subject_alt_name,
                 "DNS:" + name + (name == "localhost" ? ",IP:127.0.0.1" : std::string()));
  }
  X509_sign(cert, signingKey, EVP_sha256());
  Credentials result;
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long length = BIO_get_mem_data(out, &data);
  result.keyPem.assign(data, static_cast<size_t>(length));
  BIO_reset(out);
  PEM_write_bio_X509(out, cert);
  length = BIO_get_mem_data(out, &data);
  result.certPem.assign(data, static_cast<size_t>(length));
  BIO_free(out);
  if (issuer) {
    EVP_PKEY_free(signingKey);
    X509_free(issuerCert);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return result;
}

// The name a hashed trust folder (SSL_CERT_DIR) files a certificate under.
inline std::string hashedName(const std::string& certPem) {
  BIO* bio = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  char name[32];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert));
  X509_free(cert);
  return name;
}

// Points the system trust store (SSL_CERT_FILE, SSL_CERT_DIR) elsewhere for
// the life of the object.  Set before any socket of the test starts TLS.
class ScopedTrustStore {
 public:
  ScopedTrustStore(const std::string& file, const std::string& dir) {
    save("SSL_CERT_FILE", file);
    save("SSL_CERT_DIR", dir);
  }
  ~ScopedTrustStore() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  ScopedTrustStore(const ScopedTrustStore&) = delete;
  ScopedTrustStore& operator=(const ScopedTrustStore&) = delete;

 private:
  void save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vistrelle::netlocal::testing
