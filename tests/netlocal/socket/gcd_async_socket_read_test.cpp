#include <cmath>
#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

const Bytes& crlf() {
  return GCDAsyncSocket::CRLFData();
}

TEST(GCDAsyncSocketRead, TwoLinesInOneWriteCompleteTwoReadsTheSecondFromThePreBuffer) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  writeAll(pair.peer.get(), "{\"type\":1}\r\n{\"type\":2}\r\n");
  EXPECT_EQ(pair.delegate().waitFor("read", 1).data, "{\"type\":1}\r\n");
  // Nothing more arrives: only the pre-buffer can serve this one.
  pair.socket->readDataToData(crlf(), -1, 2);
  auto second = pair.delegate().waitFor("read", 2);
  EXPECT_EQ(second.data, "{\"type\":2}\r\n");
  EXPECT_EQ(second.tag, 2);
}

TEST(GCDAsyncSocketRead, TerminatorSplitAcrossArrivalsIsFound) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 7);
  writeAll(pair.peer.get(), "abc\r");
  EXPECT_EQ(pair.delegate().waitFor("readPartial").length, 4u);
  writeAll(pair.peer.get(), "\ndef\r\n");
  EXPECT_EQ(pair.delegate().waitFor("read").data, "abc\r\n");
  pair.socket->readDataToData(crlf(), -1, 8);
  EXPECT_EQ(pair.delegate().waitFor("read", 2).data, "def\r\n");
}

TEST(GCDAsyncSocketRead, TerminatorSplitIntoTheCallersBufferIsFound) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  // A caller's buffer with room reads straight into it.
  auto buffer = std::make_shared<Bytes>(64, 'x');
  pair.socket->readDataToData(crlf(), -1, buffer, 0, 1);
  writeAll(pair.peer.get(), "ab\r");
  pair.delegate().waitFor("readPartial");
  writeAll(pair.peer.get(), "\nrest");
  auto event = pair.delegate().waitFor("read");
  EXPECT_EQ(event.data, "ab\r\n");
  pair.socket->readDataToLength(4, -1, 2);
  EXPECT_EQ(pair.delegate().waitFor("read", 2).data, "rest");
}

TEST(GCDAsyncSocketRead, MaximumReachedWithoutTerminatorClosesWithCodeSix) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 10, 1);
  writeAll(pair.peer.get(), "0123456789");
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketReadMaxedOutError);
  EXPECT_EQ(event.error->localizedDescription(), "Read operation reached set maximum length");
  EXPECT_EQ(pair.delegate().count("read"), 0u);
}

TEST(GCDAsyncSocketRead, TerminatorWithinTheMaximumCompletes) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 10, 1);
  writeAll(pair.peer.get(), "01234567\r\n");
  EXPECT_EQ(pair.delegate().waitFor("read").data, "01234567\r\n");
}

class GCDAsyncSocketReadPeerEnds : public ::testing::TestWithParam<bool> {};

TEST_P(GCDAsyncSocketReadPeerEnds, WaitingLineReadEndsWithCodeSeven) {
  const bool reset = GetParam();
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  writeAll(pair.peer.get(), "half a line");
  pair.delegate().waitFor("readPartial");
  if (reset) {
    resetConnection(pair.peer);
  } else {
    pair.peer.reset();
  }
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kGCDAsyncSocketErrorDomain);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketClosedError);
  EXPECT_EQ(event.error->localizedDescription(), "Socket closed by remote peer");
  EXPECT_EQ(pair.delegate().count("read"), 0u);
}

INSTANTIATE_TEST_SUITE_P(FinAndRst, GCDAsyncSocketReadPeerEnds, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "rst" : "fin"; });

TEST(GCDAsyncSocketRead, BytesBufferedAtEndOfStreamAreStillServed) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  writeAll(pair.peer.get(), "one\r\ntwo\r\n");
  pair.peer.reset();
  EXPECT_EQ(pair.delegate().waitFor("read").data, "one\r\n");
  pair.socket->readDataToData(crlf(), -1, 2);
  EXPECT_EQ(pair.delegate().waitFor("read", 2).data, "two\r\n");
  pair.socket->readDataToData(crlf(), -1, 3);
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketClosedError);
}

TEST(GCDAsyncSocketRead, UrgentByteArrivesInlineAndTheConnectionStays) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  writeAll(pair.peer.get(), "abc");
  EXPECT_EQ(pair.delegate().waitFor("readPartial").length, 3u);
  // The urgent mark now lies where the next read starts: the kernel's count
  // of readable bytes stops there, which must not read as the end.
  ASSERT_EQ(::send(pair.peer.get(), "!", 1, MSG_OOB), 1);
  writeAll(pair.peer.get(), "def\r\n");
  EXPECT_EQ(pair.delegate().waitFor("read").data, "abc!def\r\n");
  pair.settle();
  EXPECT_EQ(pair.delegate().count("disconnect"), 0u);
  EXPECT_TRUE(pair.socket->isConnected());

  // A real end still closes with code 7.
  pair.socket->readDataToData(crlf(), -1, 2);
  pair.peer.reset();
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketClosedError) << event.error->describe();
}

TEST(GCDAsyncSocketRead, HalfDuplexKeepsWritingAfterThePeerStopsSending) {
  AcceptedPair pair(
      [](const GCDAsyncSocketPtr& s) { s->setAutoDisconnectOnClosedReadStream(false); });
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  ASSERT_EQ(::shutdown(pair.peer.get(), SHUT_WR), 0);
  pair.delegate().waitFor("closeReadStream");
  pair.socket->writeData(toBytes("still here\n"), -1, 2);
  EXPECT_EQ(readExactly(pair.peer.get(), 11), "still here\n");
  EXPECT_EQ(pair.delegate().waitFor("write").tag, 2);
  pair.settle();
  EXPECT_EQ(pair.delegate().count("disconnect"), 0u);
  EXPECT_TRUE(pair.socket->isConnected());
}

TEST(GCDAsyncSocketRead, HalfDuplexTreatsAResetAsAClose) {
  AcceptedPair pair(
      [](const GCDAsyncSocketPtr& s) { s->setAutoDisconnectOnClosedReadStream(false); });
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToData(crlf(), -1, 1);
  resetConnection(pair.peer);
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketClosedError);
  EXPECT_EQ(pair.delegate().count("closeReadStream"), 0u);
}

TEST(GCDAsyncSocketRead, TimeOutExtendedByTheDelegateFiresAgain) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.delegate().readTimeoutAnswers = {0.05};
  pair.socket->readDataToData(crlf(), 0.05, 9);
  writeAll(pair.peer.get(), "abc");
  auto first = pair.delegate().waitFor("readTimeout", 1);
  EXPECT_EQ(first.tag, 9);
  EXPECT_DOUBLE_EQ(first.elapsed, 0.05);
  EXPECT_EQ(first.length, 3u);
  auto second = pair.delegate().waitFor("readTimeout", 2);
  EXPECT_DOUBLE_EQ(second.elapsed, 0.1);  // includes the extension
  auto event = pair.delegate().waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketReadTimeoutError);
  EXPECT_EQ(event.error->localizedDescription(), "Read operation timed out");
}

TEST(GCDAsyncSocketRead, ExtendedReadStillCompletesWhenItsBytesCome) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.delegate().readTimeoutAnswers = {10};
  pair.socket->readDataToLength(4, 0.02, 1);
  pair.delegate().waitFor("readTimeout");
  writeAll(pair.peer.get(), "late");
  EXPECT_EQ(pair.delegate().waitFor("read").data, "late");
  EXPECT_EQ(pair.delegate().count("disconnect"), 0u);
}

TEST(GCDAsyncSocketRead, ZeroTimeOutExpiresAtOnce) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToLength(1, 0, 1);
  EXPECT_EQ(pair.delegate().waitFor("disconnect").error->code(), GCDAsyncSocketReadTimeoutError);
}

TEST(GCDAsyncSocketRead, LengthAndAvailableReadsTakeWhatTheyAskFor) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket->readDataToLength(6, -1, 1);
  writeAll(pair.peer.get(), "abc");
  pair.delegate().waitFor("readPartial");
  writeAll(pair.peer.get(), "defXYZ");
  EXPECT_EQ(pair.delegate().waitFor("read", 1).data, "abcdef");
  // An available read takes what is there, with its maximum.
  pair.socket->readDataWithTimeout(-1, nullptr, 0, 2, 2);
  EXPECT_EQ(pair.delegate().waitFor("read", 2).data, "XY");
  pair.socket->readDataWithTimeout(-1, 3);
  EXPECT_EQ(pair.delegate().waitFor("read", 3).data, "Z");
}

TEST(GCDAsyncSocketRead, ReadIntoTheCallersBufferKeepsItsHeadAndIsHandedOverWithoutCopy) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  auto buffer = std::make_shared<Bytes>(toBytes("HEAD"));
  pair.socket->readDataToData(crlf(), -1, buffer, 4, 1);
  writeAll(pair.peer.get(), "body\r\ntail");
  auto event = pair.delegate().waitFor("read");
  EXPECT_EQ(event.data, "body\r\n");
  EXPECT_EQ(event.view.buffer(), buffer);  // the caller's own buffer
  EXPECT_EQ(event.view.offset(), 4u);
  EXPECT_EQ(std::string(buffer->begin(), buffer->end()), "HEADbody\r\n");
}

TEST(GCDAsyncSocketRead, InvalidRequestsAreIgnored) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  auto small = std::make_shared<Bytes>(2);
  pair.socket->readDataToLength(0, -1, 1);
  pair.socket->readDataToData(Bytes{}, -1, 2);
  pair.socket->readDataToData(crlf(), -1, 1, 3);      // maximum below the terminator
  pair.socket->readDataToLength(2, -1, small, 3, 4);  // offset past the end
  pair.socket->readDataToLength(2, -1, 5);
  writeAll(pair.peer.get(), "ok");
  auto event = pair.delegate().waitFor("read");
  EXPECT_EQ(event.tag, 5);
  EXPECT_EQ(event.data, "ok");
}

TEST(GCDAsyncSocketRead, ProgressReportsTheCurrentRead) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  long tag = -1;
  size_t done = 1, total = 1;
  EXPECT_TRUE(std::isnan(pair.socket->progressOfReadReturningTag(&tag, &done, &total)));
  EXPECT_EQ(tag, 0);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(total, 0u);

  pair.socket->readDataToLength(8, -1, 42);
  writeAll(pair.peer.get(), "abcd");
  pair.delegate().waitFor("readPartial");
  EXPECT_FLOAT_EQ(pair.socket->progressOfReadReturningTag(&tag, &done, &total), 0.5f);
  EXPECT_EQ(tag, 42);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(total, 8u);
  writeAll(pair.peer.get(), "efgh");
  pair.delegate().waitFor("read");

  pair.socket->readDataToData(crlf(), -1, 43);
  pair.settle();
  EXPECT_FLOAT_EQ(pair.socket->progressOfReadReturningTag(&tag, nullptr, nullptr), 1.0f);
  EXPECT_EQ(tag, 43);
}

TEST(GCDAsyncSocketRead, ManyBufferedLinesAreServedInOrder) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  std::string batch;
  for (int i = 0; i < 2000; ++i) batch += "line " + std::to_string(i) + "\r\n";
  for (int i = 0; i < 2000; ++i) pair.socket->readDataToData(crlf(), -1, i);
  writeAll(pair.peer.get(), batch);
  auto last = pair.delegate().waitFor("read", 2000);
  EXPECT_EQ(last.data, "line 1999\r\n");
  auto events = pair.delegate().events();
  long expected = 0;
  for (const auto& event : events) {
    if (event.kind != "read") continue;
    EXPECT_EQ(event.tag, expected);
    EXPECT_EQ(event.data, "line " + std::to_string(expected) + "\r\n");
    ++expected;
  }
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
