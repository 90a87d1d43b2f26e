#include <gtest/gtest.h>

#include <cstring>
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

TEST(BufManaEx, InPlaceRegionsPassEveryByteInOrderAcrossTheWrap) {
  // As the burn uses it: the producer reads into reserved room (cut at the
  // block's end), the writer works in place where a piece is whole and
  // copies where it wraps or ends short.
  const std::vector<uint8_t> data = PatternBytes(40 * 2048 * 37 + 2048 * 5, 11);
  BufManaEx buf;
  ASSERT_TRUE(buf.Init(2048 * 100, data.size()));  // 100 sectors: pieces of 64 and 32 wrap unevenly
  std::thread producer([&] {
    for (size_t at = 0; at < data.size();) {
      uint8_t* room = nullptr;
      uint64_t n = buf.Reserve(std::min<size_t>(64 * 2048, data.size() - at), &room);
      if (n == 0) break;
      ASSERT_EQ(n % 2048, 0u) << "room must come in whole sectors";
      std::memcpy(room, &data[at], n);
      buf.Commit(n);
      at += n;
    }
  });
  std::vector<uint8_t> out;
  std::vector<uint8_t> block(32 * 2048);
  int inPlace = 0, copied = 0;
  for (;;) {
    const uint8_t* at = nullptr;
    uint64_t n = buf.Peek(block.size(), &at);
    if (n == 0) break;
    if (n == block.size()) {
      out.insert(out.end(), at, at + n);
      buf.Release(n);
      ++inPlace;
    } else {
      n = buf.Take(block.data(), block.size());
      if (n == 0) break;
      out.insert(out.end(), block.begin(), block.begin() + long(n));
      ++copied;
    }
  }
  producer.join();
  EXPECT_TRUE(out == data) << "bytes came out changed or out of order";
  EXPECT_GT(inPlace, 0);
  EXPECT_GT(copied, 1) << "the wrap and the short end both take the copying way";
}
