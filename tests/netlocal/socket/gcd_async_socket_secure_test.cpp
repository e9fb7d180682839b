#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "netlocal/socket/sec_trust.h"
#include "netlocal/socket/socket_test_support.h"

extern char** environ;

namespace vistrelle::netlocal::testing {
namespace {

// A P-256 key and a self-signed certificate for "localhost" and 127.0.0.1,
// as PEM (key first), made fresh for the test program.
struct Identity {
  std::string keyPem;
  std::string certPem;
  std::string both() const { return keyPem + certPem; }
};

const Identity& identity() {
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

Value::Map serverSettings() {
  return Value::Map{{kCFStreamSSLIsServer, true},
                    {kCFStreamSSLCertificates, Value::List{identity().both()}}};
}

Value::Map manualTrustClientSettings() {
  return Value::Map{{kCFStreamSSLPeerName, "localhost"},
                    {GCDAsyncSocketManuallyEvaluateTrust, true}};
}

void trustEverything(RecordingDelegate& delegate) {
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
GCDAsyncSocketPtr secureClient(Fixture& fixture, uint16_t port, Value::Map settings) {
  auto socket = fixture.makeSocket();
  EXPECT_TRUE(socket->connectToHost("127.0.0.1", port));
  socket->startTLS(std::move(settings));
  return socket;
}

TEST(GCDAsyncSocketSecure, ClientAgainstOpensslServerRoundTripsBothWays) {
  OpensslServer server;
  Fixture fixture;
  trustEverything(*fixture.delegate);
  auto socket = secureClient(fixture, server.port, manualTrustClientSettings());
  fixture.delegate->waitFor("secure");
  EXPECT_TRUE(socket->isSecure());
  auto trust = fixture.delegate->waitFor("trust");
  EXPECT_TRUE(trust.socket);

  socket->writeData(toBytes("hello from vistrelle\n"), -1, 1);
  EXPECT_TRUE(server.process.waitForOutput("hello from vistrelle")) << server.process.output();
  socket->readDataToData(GCDAsyncSocket::LFData(), 5, 2);
  server.process.send("hello from openssl\n");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "hello from openssl\n");
  for (const auto& event : fixture.delegate->events()) {
    if (event.kind == "disconnect" && event.error) ADD_FAILURE() << event.error->describe();
  }
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
}

TEST(GCDAsyncSocketSecure, ServerAgainstOpensslClientRoundTripsBothWays) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  fixture.delegate->onAccept = [](const GCDAsyncSocketPtr& socket) {
    socket->startTLS(serverSettings());
    socket->readDataToData(GCDAsyncSocket::LFData(), 5, 1);
  };
  OpensslProcess client(
      {"s_client", "-connect", "127.0.0.1:" + std::to_string(listener->localPort4()), "-quiet"});
  auto accepted = fixture.delegate->waitFor("accept").newSocket;
  ASSERT_TRUE(accepted);
  fixture.delegate->waitFor("secure");
  client.send("over tls\n");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "over tls\n");
  accepted->writeData(toBytes("and back\n"), -1, 2);
  EXPECT_TRUE(client.waitForOutput("and back")) << client.output();
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

TEST(GCDAsyncSocketSecure, BytesBeforeStartTLSArrivePlainAndAfterItDecrypted) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  // The plain line and the client's hello may arrive together: the bytes
  // past the line are the start of the handshake.
  pair.server->readDataToData(GCDAsyncSocket::CRLFData(), -1, 1);
  pair.server->startTLS(serverSettings());
  pair.server->readDataToData(GCDAsyncSocket::CRLFData(), -1, 2);
  pair.client->writeData(toBytes("STARTTLS\r\n"), -1, 10);
  pair.client->startTLS(manualTrustClientSettings());
  pair.client->startTLS(manualTrustClientSettings());  // ignored
  pair.client->writeData(toBytes("secret\r\n"), -1, 11);

  auto plain = pair.delegate().waitFor("read", 1);
  EXPECT_EQ(plain.tag, 1);
  EXPECT_EQ(plain.data, "STARTTLS\r\n");
  auto secret = pair.delegate().waitFor("read", 2);
  EXPECT_EQ(secret.tag, 2);
  EXPECT_EQ(secret.data, "secret\r\n");
  pair.delegate().waitFor("secure", 2);
  EXPECT_TRUE(pair.server->isSecure());
  EXPECT_TRUE(pair.client->isSecure());

  // A second start-secure request was never queued: the stream goes on.
  pair.server->writeData(toBytes("reply\r\n"), -1, 3);
  pair.client->readDataToData(GCDAsyncSocket::CRLFData(), -1, 4);
  EXPECT_EQ(pair.delegate().waitFor("read", 3).data, "reply\r\n");
  settle(pair.client, pair.fixture.delegateQueue);
  EXPECT_EQ(pair.delegate().count("secure"), 2u);
  EXPECT_EQ(pair.delegate().count("disconnect"), 0u);
}

TEST(GCDAsyncSocketSecure, LargeTransferThroughOurBothEndsIsIntact) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  pair.server->startTLS(serverSettings());
  pair.client->startTLS(manualTrustClientSettings());
  const std::string payload = pattern(8 << 20);
  pair.client->writeData(toBytes(payload), -1, 1);
  pair.server->readDataToLength(payload.size(), -1, 2);
  auto read = pair.delegate().waitFor("read", 1, 20s);
  EXPECT_TRUE(read.data == payload) << "payload differs";
  EXPECT_EQ(pair.delegate().waitFor("write").tag, 1);
}

struct SettingCase {
  const char* name;
  bool server;
  Value::Map settings;
  std::string text;
};

class GCDAsyncSocketSecureSettings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(GCDAsyncSocketSecureSettings, RefusedSettingClosesWithItsText) {
  const SettingCase& c = GetParam();
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  (c.server ? pair.server : pair.client)->startTLS(c.settings);
  (c.server ? pair.client : pair.server)
      ->startTLS(c.server ? manualTrustClientSettings() : serverSettings());
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketOtherError) << event.error->describe();
  EXPECT_EQ(event.error->localizedDescription(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, GCDAsyncSocketSecureSettings,
    ::testing::Values(
        SettingCase{"level", false,
                    Value::Map{{kCFStreamSSLLevel, "kCFStreamSocketSecurityLevelTLSv1"}},
                    "Security option unavailable - kCFStreamSSLLevel"},
        SettingCase{"anyRoot", false, Value::Map{{kCFStreamSSLAllowsAnyRoot, true}},
                    "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
        SettingCase{"peerNameNotText", false, Value::Map{{kCFStreamSSLPeerName, 42}},
                    "Invalid value for kCFStreamSSLPeerName."},
        SettingCase{"certificatesNotList", true,
                    Value::Map{{kCFStreamSSLIsServer, true}, {kCFStreamSSLCertificates, "pem"}},
                    "Invalid value for kCFStreamSSLCertificates."},
        SettingCase{"badCertificate", true,
                    Value::Map{{kCFStreamSSLIsServer, true},
                               {kCFStreamSSLCertificates, Value::List{"not a certificate"}}},
                    "Error in SSLSetCertificate"},
        SettingCase{"alpnNotList", false, Value::Map{{GCDAsyncSocketSSLALPN, "h2"}},
                    "Invalid value for GCDAsyncSocketSSLALPN."},
        SettingCase{"versionNotNumber", false,
                    Value::Map{{GCDAsyncSocketSSLProtocolVersionMin, "tls12"}},
                    "Invalid value for GCDAsyncSocketSSLProtocolVersionMin."},
        SettingCase{"unknownVersion", false, Value::Map{{GCDAsyncSocketSSLProtocolVersionMax, 3}},
                    "Error in SSLSetProtocolVersionMax"},
        SettingCase{
            "manualTrustOnServer", true,
            Value::Map{{kCFStreamSSLIsServer, true}, {GCDAsyncSocketManuallyEvaluateTrust, true}},
            "Manual trust validation is not supported for server sockets"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncSocketSecure, SettingsThatOpensslTakesStillHandshake) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  Value::Map server = serverSettings();
  server[GCDAsyncSocketSSLALPN] = Value::List{"vistrelle/1"};
  server[GCDAsyncSocketSSLProtocolVersionMin] = 8;
  Value::Map client = manualTrustClientSettings();
  client[GCDAsyncSocketSSLALPN] = Value::List{"vistrelle/1", "http/1.1"};
  client[GCDAsyncSocketSSLProtocolVersionMax] = 8;              // TLS 1.2
  client[GCDAsyncSocketSSLCipherSuites] = Value::List{0xC02B};  // ECDHE-ECDSA-AES128-GCM-SHA256
  client[GCDAsyncSocketSSLSessionOptionFalseStart] = true;
  client[GCDAsyncSocketSSLPeerID] = std::string("peer-1");
  pair.server->startTLS(server);
  pair.client->startTLS(client);
  pair.delegate().waitFor("secure", 2);
  std::string version, cipher, alpn;
  pair.client->performBlock([&] {
    SSL* ssl = pair.client->sslContext();
    version = SSL_get_version(ssl);
    cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    const unsigned char* chosen = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl, &chosen, &length);
    alpn.assign(reinterpret_cast<const char*>(chosen), length);
  });
  EXPECT_EQ(version, "TLSv1.2");
  EXPECT_EQ(cipher, "ECDHE-ECDSA-AES128-GCM-SHA256");
  EXPECT_EQ(alpn, "vistrelle/1");
  EXPECT_EQ(pair.client->sslContext(), nullptr);  // only on the socket queue
}

TEST(GCDAsyncSocketSecure, SelfSignedServerFailsVerificationWithoutManualTrust) {
  OpensslServer server;
  Fixture fixture;
  auto socket = secureClient(fixture, server.port, Value::Map{{kCFStreamSSLPeerName, "localhost"}});
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kSSLErrorDomain);
  EXPECT_EQ(event.error->code(), kSSLXCertChainInvalid) << event.error->describe();
  EXPECT_EQ(event.error->localizedRecoverySuggestion(),
            "Error code definition can be found in Apple's SecureTransport.h");
  EXPECT_EQ(fixture.delegate->count("secure"), 0u);
}

TEST(GCDAsyncSocketSecure, ManualTrustRefusedGivesPeerBadCert) {
  OpensslServer server;
  Fixture fixture;
  std::shared_ptr<SecTrust> seen;
  fixture.delegate->onTrust = [&seen](const GCDAsyncSocketPtr&,
                                      const std::shared_ptr<SecTrust>& trust,
                                      std::function<void(bool)> completion) {
    seen = trust;
    completion(false);
    return true;
  };
  auto socket = secureClient(fixture, server.port, manualTrustClientSettings());
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kSSLErrorDomain);
  EXPECT_EQ(event.error->code(), -9825);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->certificates().size(), 1u);
  EXPECT_NE(seen->subject().find("CN=localhost"), std::string::npos) << seen->subject();
  EXPECT_NE(seen->verifyResult(), 0);  // self-signed: OpenSSL alone would refuse
}

TEST(GCDAsyncSocketSecure, DelegateWithoutTrustHandlerEndsTheHandshake) {
  OpensslServer server;
  Fixture fixture;  // onTrust unset: the delegate declines the question
  auto socket = secureClient(fixture, server.port, manualTrustClientSettings());
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->localizedDescription(),
            "GCDAsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
            "implement socket:shouldTrustPeer:");
}

TEST(GCDAsyncSocketSecure, LateTrustAnswerAfterReconnectIsIgnored) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  fixture.delegate->onAccept = [](const GCDAsyncSocketPtr& socket) {
    socket->startTLS(serverSettings());
  };
  std::mutex mutex;
  std::vector<std::function<void(bool)>> answers;
  fixture.delegate->onTrust = [&](const GCDAsyncSocketPtr&, const std::shared_ptr<SecTrust>&,
                                  std::function<void(bool)> completion) {
    std::lock_guard lock(mutex);
    answers.push_back(std::move(completion));
    return true;
  };
  auto socket = secureClient(fixture, listener->localPort4(), manualTrustClientSettings());
  fixture.delegate->waitFor("trust", 1);
  socket->disconnect();
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->localPort4()));
  socket->startTLS(manualTrustClientSettings());
  fixture.delegate->waitFor("trust", 2);
  // The first handshake's answer comes now: it belongs to nothing.
  auto answer = [&](size_t index) {
    std::lock_guard lock(mutex);
    return answers.at(index);
  };
  answer(0)(true);
  settle(socket, fixture.delegateQueue);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(fixture.delegate->count("secure"), 0u);
  EXPECT_FALSE(socket->isSecure());
  answer(1)(true);
  fixture.delegate->waitFor("secure", 2);  // our client and the accepted server
  EXPECT_TRUE(socket->isSecure());
}

TEST(GCDAsyncSocketSecure, CloseWithoutCloseNotifyIsAnAbortedClose) {
  OpensslServer server;
  Fixture fixture;
  trustEverything(*fixture.delegate);
  auto socket = secureClient(fixture, server.port, manualTrustClientSettings());
  fixture.delegate->waitFor("secure");
  socket->readDataToData(GCDAsyncSocket::LFData(), -1, 1);
  server.process.kill();  // the kernel closes the connection; no close_notify
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kSSLErrorDomain) << event.error->describe();
  EXPECT_EQ(event.error->code(), kSSLClosedAbort);
}

TEST(GCDAsyncSocketSecure, OrderlyCloseFromOurPeerIsAPlainClose) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  pair.server->startTLS(serverSettings());
  pair.client->startTLS(manualTrustClientSettings());
  pair.delegate().waitFor("secure", 2);
  pair.client->readDataToData(GCDAsyncSocket::LFData(), -1, 1);
  pair.server->disconnect();  // sends close_notify
  auto first = pair.delegate().waitFor("disconnect", 1);
  EXPECT_FALSE(first.error);
  auto second = pair.delegate().waitFor("disconnect", 2);
  ASSERT_TRUE(second.error);
  EXPECT_EQ(second.error->code(), GCDAsyncSocketClosedError) << second.error->describe();
}

// A peer of our own on a blocking socket, so the test decides when it reads.
TEST(GCDAsyncSocketSecure, KeyUpdateWhileOurSendBufferIsFullDoesNotHang) {
  UniqueFd listener = rawListen();
  Fixture fixture;
  trustEverything(*fixture.delegate);
  Value::Map settings = manualTrustClientSettings();
  auto socket = secureClient(fixture, localPortOf(listener.get()), settings);
  UniqueFd peerFd = rawAccept(listener.get());

  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);  // key updates are TLS 1.3
  BIO* keyBio = BIO_new_mem_buf(identity().keyPem.data(), -1);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  BIO_free(keyBio);
  BIO* certBio = BIO_new_mem_buf(identity().certPem.data(), -1);
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  BIO_free(certBio);
  SSL_CTX_use_certificate(context, cert);
  SSL_CTX_use_PrivateKey(context, key);
  SSL* peer = SSL_new(context);
  SSL_set_fd(peer, peerFd.get());
  ASSERT_EQ(SSL_accept(peer), 1) << ERR_error_string(ERR_peek_last_error(), nullptr);
  fixture.delegate->waitFor("secure");

  // Fill our send buffer: the peer reads nothing yet.
  const size_t total = 32 << 20;
  socket->writeData(toBytes(pattern(total)), -1, 1);
  socket->readDataToLength(5, -1, 2);
  fixture.delegate->waitFor("writePartial");
  std::this_thread::sleep_for(50ms);

  // Our socket must answer the key update while it cannot send.
  ASSERT_EQ(SSL_key_update(peer, SSL_KEY_UPDATE_REQUESTED), 1);
  ASSERT_EQ(SSL_write(peer, "hello", 5), 5);
  std::this_thread::sleep_for(50ms);

  std::thread drain([&] {
    std::vector<char> buffer(1 << 16);
    size_t got = 0;
    while (got < total) {
      const int n = SSL_read(peer, buffer.data(), static_cast<int>(buffer.size()));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  });
  auto read = fixture.delegate->waitFor("read", 1, 10s);
  EXPECT_EQ(read.data, "hello");
  fixture.delegate->waitFor("write", 1, 10s);
  drain.join();
  socket->disconnect();
  SSL_free(peer);
  SSL_CTX_free(context);
  X509_free(cert);
  EVP_PKEY_free(key);
}

TEST(GCDAsyncSocketSecureLayer, MapsOpensslFailuresOntoStatusCodes) {
  struct Case {
    int sslError;
    unsigned long code;
    long verify;
    int status;
  };
  const std::vector<Case> cases = {
      {SSL_ERROR_WANT_READ, 0, 0, kSSLWouldBlock},
      {SSL_ERROR_WANT_WRITE, 0, 0, kSSLWouldBlock},
      {SSL_ERROR_WANT_RETRY_VERIFY, 0, 0, kSSLPeerAuthCompleted},
      {SSL_ERROR_ZERO_RETURN, 0, 0, kSSLClosedGraceful},
      {SSL_ERROR_SYSCALL, 0, 0, kSSLClosedAbort},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_UNEXPECTED_EOF_WHILE_READING), 0,
       kSSLClosedAbort},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_CERTIFICATE_VERIFY_FAILED),
       X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, kSSLXCertChainInvalid},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_CERTIFICATE_VERIFY_FAILED),
       X509_V_ERR_CERT_HAS_EXPIRED, kSSLCertExpired},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_CERTIFICATE_VERIFY_FAILED),
       X509_V_ERR_HOSTNAME_MISMATCH, kSSLHostNameMismatch},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_AD_REASON_OFFSET + SSL_AD_BAD_CERTIFICATE), 0,
       kSSLPeerBadCert},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_AD_REASON_OFFSET + SSL_AD_UNKNOWN_CA), 0,
       kSSLPeerUnknownCA},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_NO_SHARED_CIPHER), 0, kSSLNegotiation},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_WRONG_VERSION_NUMBER), 0,
       kSSLPeerProtocolVersion},
      {SSL_ERROR_SSL, ERR_PACK(ERR_LIB_SSL, 0, SSL_R_PACKET_LENGTH_TOO_LONG), 0, kSSLProtocol},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GCDAsyncSocketSecureLayer::statusFromOpenSSL(c.sslError, c.code, c.verify), c.status)
        << c.sslError << " " << ERR_GET_REASON(c.code);
  }
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
