#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <thread>

#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "netlocal/socket/secure_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

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

TEST(GCDAsyncSocketSecure, BytesBeforeStartTLSArrivePlainAndAfterItDecrypted) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  // The plain line and the client's hello may arrive together: the bytes
  // past the line are the start of the handshake.
  pair.server->readDataToData(GCDAsyncSocket::CRLFData(), -1, 1);
  pair.server->startTLS(serverSettings());
  pair.server->readDataToData(GCDAsyncSocket::CRLFData(), -1, 2);
  // One turn of the client's queue queues everything, so that no handshake
  // can finish between the two start requests.
  pair.client->performBlock([&] {
    pair.client->writeData(toBytes("STARTTLS\r\n"), -1, 10);
    pair.client->startTLS(manualTrustClientSettings());
    pair.client->startTLS(manualTrustClientSettings());  // one is queued already: ignored
    pair.client->writeData(toBytes("secret\r\n"), -1, 11);
  });

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

TEST(GCDAsyncSocketSecure, StartTLSOnASecureConnectionIsIgnored) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  trustEverything(pair.delegate());
  pair.server->startTLS(serverSettings());
  pair.client->startTLS(manualTrustClientSettings());
  pair.delegate().waitFor("secure", 2);
  // Both ends ask again once secure (the client from the test thread, the
  // server from its queue): a new handshake would break the stream.
  pair.client->startTLS(manualTrustClientSettings());
  pair.server->performBlock([&] { pair.server->startTLS(serverSettings()); });

  pair.client->writeData(toBytes("after\r\n"), -1, 1);
  pair.server->readDataToData(GCDAsyncSocket::CRLFData(), -1, 2);
  EXPECT_EQ(pair.delegate().waitFor("read", 1).data, "after\r\n");
  pair.server->writeData(toBytes("back\r\n"), -1, 3);
  pair.client->readDataToData(GCDAsyncSocket::CRLFData(), -1, 4);
  EXPECT_EQ(pair.delegate().waitFor("read", 2).data, "back\r\n");
  settle(pair.server, pair.fixture.delegateQueue);
  settle(pair.client, pair.fixture.delegateQueue);
  EXPECT_EQ(pair.delegate().count("secure"), 2u);
  EXPECT_EQ(pair.delegate().count("disconnect"), 0u);
  EXPECT_TRUE(pair.client->isSecure());
  EXPECT_TRUE(pair.server->isSecure());
}

// A TLS 1.3 server's session tickets leave as two small records just before
// its first reply; held back for the peer's delayed acknowledgement they cost
// 40 ms.  Secure sockets therefore send without delay; plain ones keep the
// system's default.
TEST(GCDAsyncSocketSecure, SecureSocketsSendWithoutDelay) {
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  auto noDelay = [](const GCDAsyncSocketPtr& socket) {
    int value = -1;
    socklen_t length = sizeof value;
    socket->performBlock([&] {
      EXPECT_EQ(getsockopt(socket->socketFD(), IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    });
    return value != 0;
  };
  EXPECT_FALSE(noDelay(pair.server));
  EXPECT_FALSE(noDelay(pair.client));
  trustEverything(pair.delegate());
  pair.server->startTLS(serverSettings());
  pair.client->startTLS(manualTrustClientSettings());
  pair.delegate().waitFor("secure", 2);
  EXPECT_TRUE(noDelay(pair.server));
  EXPECT_TRUE(noDelay(pair.client));
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

}  // namespace
}  // namespace vistrelle::netlocal::testing
