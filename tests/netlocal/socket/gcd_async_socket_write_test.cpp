#include <signal.h>

#include <cmath>
#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

TEST(GCDAsyncSocketWrite, PeerClosingMidWriteGivesOneNoticeAndNoSignal) {
  // Default disposition: a SIGPIPE would end this process.
  auto previous = signal(SIGPIPE, SIG_DFL);
  ASSERT_NE(previous, SIG_ERR);
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  // Bytes nobody asks for: with no read queued the read source suspends
  // itself, so only the write side can notice what the peer does next.
  writeAll(pair.peer.get(), "never read");
  pair.socket->writeData(toBytes(pattern(16 << 20)), -1, 1);
  pair.delegate().waitFor("writePartial");  // the send buffer is full: the write waits
  pair.settle();                            // and the read source's turn has passed
  resetConnection(pair.peer);
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kPOSIXErrorDomain) << event.error->describe();
  EXPECT_TRUE(event.error->code() == ECONNRESET || event.error->code() == EPIPE)
      << event.error->describe();
  EXPECT_EQ(event.error->localizedFailureReason(), "Error in write() function");
  pair.settle();
  EXPECT_EQ(pair.delegate().count("disconnect"), 1u);
  EXPECT_EQ(pair.delegate().count("write"), 0u);
  signal(SIGPIPE, previous);
}

TEST(GCDAsyncSocketWrite, SlowReaderGetsPartialProgressThenOneCompletionWithIntactBytes) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  // More than the kernel's send and receive buffers hold together.
  const std::string payload = pattern(16 << 20);
  pair.socket->writeData(toBytes(payload), -1, 5);
  // Nothing is read until the socket had to wait for the peer.
  auto partial = pair.delegate().waitFor("writePartial");
  EXPECT_EQ(partial.tag, 5);
  EXPECT_GT(partial.length, 0u);
  long tag = 0;
  size_t done = 0, total = 0;
  const float progress = pair.socket->progressOfWriteReturningTag(&tag, &done, &total);
  EXPECT_GT(progress, 0.0f);
  EXPECT_LT(progress, 1.0f);
  EXPECT_EQ(tag, 5);
  EXPECT_EQ(total, payload.size());

  std::string received;
  while (received.size() < payload.size()) {
    std::string chunk =
        readExactly(pair.peer.get(), std::min<size_t>(256 << 10, payload.size() - received.size()));
    ASSERT_FALSE(chunk.empty());
    received += chunk;
  }
  EXPECT_TRUE(received == payload) << "bytes differ";
  EXPECT_EQ(pair.delegate().waitFor("write").tag, 5);
  pair.settle();
  EXPECT_EQ(pair.delegate().count("write"), 1u);
  size_t partialTotal = 0;
  for (const auto& event : pair.delegate().events()) {
    if (event.kind == "writePartial") partialTotal += event.length;
  }
  EXPECT_LT(partialTotal, payload.size());
  EXPECT_TRUE(std::isnan(pair.socket->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
}

TEST(GCDAsyncSocketWrite, WritesCompleteInOrderAndEmptyDataIsIgnored) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->writeData(toBytes("one "), -1, 1);
  pair.socket->writeData(Bytes{}, -1, 99);
  pair.socket->writeData(std::make_shared<const Bytes>(toBytes("two")), -1, 2);
  EXPECT_EQ(readExactly(pair.peer.get(), 7), "one two");
  EXPECT_EQ(pair.delegate().waitFor("write", 1).tag, 1);
  EXPECT_EQ(pair.delegate().waitFor("write", 2).tag, 2);
  pair.settle();
  EXPECT_EQ(pair.delegate().count("write"), 2u);
}

TEST(GCDAsyncSocketWrite, StuckWriteTimesOutAfterItsExtension) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.delegate().writeTimeoutAnswers = {0.05};
  pair.socket->writeData(toBytes(pattern(16 << 20)), 0.05, 3);
  auto first = pair.delegate().waitFor("writeTimeout", 1);
  EXPECT_EQ(first.tag, 3);
  EXPECT_DOUBLE_EQ(first.elapsed, 0.05);
  EXPECT_GT(first.length, 0u);
  EXPECT_DOUBLE_EQ(pair.delegate().waitFor("writeTimeout", 2).elapsed, 0.1);
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketWriteTimeoutError);
  EXPECT_EQ(event.error->localizedDescription(), "Write operation timed out");
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
