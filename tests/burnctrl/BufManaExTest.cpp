#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "BurnCtrl/BufManaEx.h"
#include "BurnTestSupport.h"

TEST(BufManaEx, PassesEveryByteInOrderAcrossTheWrap) {
  // Pieces of unequal size on both sides make the copies straddle the end
  // of the block many times.
  const std::vector<uint8_t> data = PatternBytes(1'000'003, 7);
  BufManaEx buf;
  ASSERT_TRUE(buf.Init(65537, data.size()));
  std::thread producer([&] {
    for (size_t at = 0; at < data.size();) {
      size_t n = std::min<size_t>(1 + at % 9973, data.size() - at);
      buf.Put(&data[at], n);
      at += n;
    }
  });
  std::vector<uint8_t> out(data.size() + 4096);
  size_t got = 0;
  for (;;) {
    uint64_t n = buf.Take(&out[got], 2048);  // the last take is cut at the end
    if (n == 0) break;
    got += n;
  }
  producer.join();
  ASSERT_EQ(got, data.size());
  out.resize(got);
  EXPECT_TRUE(out == data) << "bytes came out changed or out of order";
}

TEST(BufManaEx, StopReleasesAWaitingPutAndAWaitingTake) {
  BufManaEx buf;
  ASSERT_TRUE(buf.Init(16, 1000));
  uint8_t piece[16] = {};
  ASSERT_TRUE(buf.Put(piece, 16));
  std::thread blockedPut([&] { buf.Put(piece, 8); });  // full: waits
  BufManaEx empty;
  ASSERT_TRUE(empty.Init(16, 1000));
  uint64_t taken = 99;
  std::thread blockedTake([&] { taken = empty.Take(piece, 8); });  // empty: waits
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  buf.SetStop(true);
  empty.SetStop(true);
  blockedPut.join();
  blockedTake.join();
  EXPECT_EQ(taken, 0u);
  EXPECT_EQ(buf.Produced(), 16u) << "a stopped Put must not copy";
}

TEST(BufManaEx, InitStartsAfreshAfterAStop) {
  BufManaEx buf;
  ASSERT_TRUE(buf.Init(64, 64));
  buf.SetStop(true);
  ASSERT_TRUE(buf.Init(64, 8));
  uint8_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[16] = {};
  buf.Put(in, 8);
  EXPECT_EQ(buf.Take(out, 16), 8u);
  EXPECT_EQ(out[7], 8);
  EXPECT_EQ(buf.Take(out, 16), 0u) << "the whole track has been taken";
}
