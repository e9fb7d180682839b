// What the secure layer reports when verification or the connection fails,
// end to end, and where it finds the trust it verifies against.

#include <openssl/ssl.h>

#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "netlocal/socket/secure_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

constexpr long kDay = 24 * 3600;

// A certificate authority, its files, and leaves it signed.
struct Authority {
  TempDir dir;
  Credentials ca = makeCredentials("Vistrelle Test CA", -kDay, kDay, nullptr, true);
  std::string hashedDir = dir.path() + "/hashed";
  std::string bundle = dir.path() + "/bundle.pem";
  std::string emptyDir = dir.path() + "/empty";

  Authority() {
    std::filesystem::create_directory(hashedDir);
    std::filesystem::create_directory(emptyDir);
    std::ofstream(hashedDir + "/" + hashedName(ca.certPem)) << ca.certPem;
    std::ofstream(bundle) << ca.certPem;
  }
  Credentials leaf(const std::string& name, long notBefore = -kDay, long notAfter = kDay) const {
    return makeCredentials(name, notBefore, notAfter, &ca);
  }
};

Value::Map serving(const Credentials& credentials) {
  return Value::Map{{kCFStreamSSLIsServer, true},
                    {kCFStreamSSLCertificates, Value::List{credentials.both()}}};
}

struct FailureCase {
  const char* name;
  // Leaves the client's failure behind; returns its error.
  std::function<SocketErrorPtr(Authority&)> run;
  int status;
};

class GCDAsyncSocketSecureFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(GCDAsyncSocketSecureFailures, ReportTheirSecureTransportStatus) {
  const FailureCase& c = GetParam();
  Authority authority;
  auto error = c.run(authority);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kSSLErrorDomain) << error->describe();
  EXPECT_EQ(error->code(), c.status) << error->describe();
  EXPECT_EQ(error->localizedRecoverySuggestion(),
            "Error code definition can be found in Apple's SecureTransport.h");
}

// Our client, verifying against the authority's hashed folder alone, against
// our server with `serverCredentials`: the client's error.
SocketErrorPtr verifyAgainstFolder(Authority& authority, const Credentials& serverCredentials,
                                   const std::string& peerName) {
  ScopedTrustStore store(authority.dir.path() + "/none.pem", authority.hashedDir);
  Fixture serverSide;
  Fixture clientSide;
  auto listener = serverSide.makeSocket();
  EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  serverSide.delegate->onAccept =
      [settings = serving(serverCredentials)](const GCDAsyncSocketPtr& accepted) {
        accepted->startTLS(settings);
      };
  auto client = clientSide.makeSocket();
  EXPECT_TRUE(client->connectToHost("127.0.0.1", listener->localPort4()));
  client->startTLS(Value::Map{{kCFStreamSSLPeerName, peerName}});
  auto event = clientSide.delegate->waitFor("disconnect");
  EXPECT_EQ(clientSide.delegate->count("secure"), 0u);
  return event.error;
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, GCDAsyncSocketSecureFailures,
    ::testing::Values(
        FailureCase{"untrustedCertificate",
                    [](Authority& authority) {
                      // A self-signed server that no trust store knows.
                      ScopedTrustStore store(authority.dir.path() + "/none.pem",
                                             authority.emptyDir);
                      OpensslServer server;
                      Fixture fixture;
                      auto socket = secureClient(fixture, server.port,
                                                 Value::Map{{kCFStreamSSLPeerName, "localhost"}});
                      auto event = fixture.delegate->waitFor("disconnect");
                      EXPECT_EQ(fixture.delegate->count("secure"), 0u);
                      return event.error;
                    },
                    kSSLXCertChainInvalid},
        FailureCase{"expiredCertificate",
                    [](Authority& authority) {
                      return verifyAgainstFolder(
                          authority, authority.leaf("localhost", -3 * kDay, -kDay), "localhost");
                    },
                    kSSLCertExpired},
        FailureCase{"hostNameMismatch",
                    [](Authority& authority) {
                      return verifyAgainstFolder(authority, authority.leaf("localhost"),
                                                 "companion.example");
                    },
                    kSSLHostNameMismatch},
        FailureCase{"missingCloseNotify",
                    [](Authority&) {
                      OpensslServer server;
                      Fixture fixture;
                      trustEverything(*fixture.delegate);
                      auto socket = secureClient(fixture, server.port, manualTrustClientSettings());
                      fixture.delegate->waitFor("secure");
                      socket->readDataToData(GCDAsyncSocket::LFData(), -1, 1);
                      server.process.kill();  // the kernel closes the connection
                      return fixture.delegate->waitFor("disconnect").error;
                    },
                    kSSLClosedAbort}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncSocketTrust, BundleFileAloneVerifies) {
  Authority authority;
  // No hashed folder at all: only the bundle file knows the authority.
  ScopedTrustStore store(authority.bundle, authority.dir.path() + "/no-such-folder");
  SecurePair pair;
  ASSERT_TRUE(pair.server);
  pair.server->startTLS(serving(authority.leaf("localhost")));
  pair.client->startTLS(Value::Map{{kCFStreamSSLPeerName, "localhost"}});
  pair.delegate().waitFor("secure", 2);
  EXPECT_TRUE(pair.client->isSecure());
  for (const auto& event : pair.delegate().events()) {
    if (event.kind == "disconnect" && event.error) ADD_FAILURE() << event.error->describe();
  }
}

TEST(GCDAsyncSocketTrust, CipherListOfTls13SuitesOnlyRefusesTls12) {
  const Value::List tls13Only{0x1301, 0x1302};  // TLS_AES_128_GCM_SHA256, TLS_AES_256_GCM_SHA384
  Value::Map server = serverSettings();
  server[GCDAsyncSocketSSLCipherSuites] = tls13Only;

  // A client that speaks TLS 1.2 at most finds nothing to agree on.
  {
    SecurePair pair;
    ASSERT_TRUE(pair.server);
    trustEverything(pair.delegate());
    Value::Map client = manualTrustClientSettings();
    client[GCDAsyncSocketSSLProtocolVersionMax] = 8;
    pair.server->startTLS(server);
    pair.client->startTLS(client);
    auto first = pair.delegate().waitFor("disconnect", 1);
    auto second = pair.delegate().waitFor("disconnect", 2);
    ASSERT_TRUE(first.error && second.error);
    EXPECT_EQ(first.error->domain(), kSSLErrorDomain) << first.error->describe();
    EXPECT_EQ(second.error->domain(), kSSLErrorDomain) << second.error->describe();
    EXPECT_EQ(pair.delegate().count("secure"), 0u);
  }
  // A TLS 1.3 client still gets one of the listed suites.
  {
    SecurePair pair;
    ASSERT_TRUE(pair.server);
    trustEverything(pair.delegate());
    pair.server->startTLS(server);
    pair.client->startTLS(manualTrustClientSettings());
    pair.delegate().waitFor("secure", 2);
    std::string version, cipher;
    pair.server->performBlock([&] {
      version = SSL_get_version(pair.server->sslContext());
      cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(pair.server->sslContext()));
    });
    EXPECT_EQ(version, "TLSv1.3");
    EXPECT_TRUE(cipher == "TLS_AES_128_GCM_SHA256" || cipher == "TLS_AES_256_GCM_SHA384") << cipher;
  }
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
