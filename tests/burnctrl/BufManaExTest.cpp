#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <map>
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

namespace {

// A recorder's own source: sector n holds bytes made from n, whichever
// source it came from; counts what it was asked to read.
struct CountedSource {
  static constexpr uint32_t kSector = 16;
  uint64_t next = 0, read = 0;
  SharedReader::Source Make() {
    return {[this](uint8_t* out, uint32_t n) {
              for (uint32_t i = 0; i < n; ++i, ++next)
                for (uint32_t b = 0; b < kSector; ++b) out[i * kSector + b] = uint8_t(next * 7 + b);
              read += n;
              return "sector " + std::to_string(next);
            },
            {}};
  }
};

std::vector<uint8_t> Expected(uint32_t sectors) {
  std::vector<uint8_t> v(size_t(sectors) * CountedSource::kSector);
  for (uint32_t n = 0; n < sectors; ++n)
    for (uint32_t b = 0; b < CountedSource::kSector; ++b) v[n * CountedSource::kSector + b] = uint8_t(n * 7 + b);
  return v;
}

SharedReader::Key TrackKey(uint32_t length) {
  SharedReader::Key k;
  k.session = k.track = 1;
  k.length = length;
  k.sectorSize = CountedSource::kSector;
  return k;
}

// Reads the whole track in pieces of uneven size (or of `step` sectors);
// `after` is told the sectors taken so far after every piece.
std::vector<uint8_t> ReadAll(SharedReader::Cursor& c, uint32_t length, const std::atomic<bool>& stop,
                             const std::function<void(uint32_t)>& after = nullptr, uint32_t step = 0) {
  std::vector<uint8_t> out(size_t(length) * CountedSource::kSector);
  const uint32_t pieces[] = {1, 5, 13, 8, 3};
  for (uint32_t at = 0, i = 0; at < length; ++i) {
    const uint32_t n = std::min(step ? step : pieces[i % 5], length - at);
    EXPECT_TRUE(c.Read(out.data() + size_t(at) * CountedSource::kSector, n, stop));
    at += n;
    if (after) after(at);
  }
  return out;
}

}  // namespace

TEST(SharedReader, ThreeRecordersGetEverySectorFromOneReading) {
  constexpr uint32_t kLength = 1000;
  SharedReader reader(4, 8);
  CountedSource sources[3];
  std::vector<std::unique_ptr<SharedReader::Cursor>> cursors;
  for (int i = 0; i < 3; ++i) cursors.push_back(reader.Join(i, TrackKey(kLength), sources[i].Make()));
  std::atomic<bool> stop{false};
  std::vector<std::vector<uint8_t>> got(3);
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back([&, i] { got[i] = ReadAll(*cursors[i], kLength, stop); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(got[i] == Expected(kLength)) << "recorder " << i;
  EXPECT_EQ(reader.SectorsRead(), kLength);
  EXPECT_EQ(reader.SectorsHanded(), 3 * kLength);
  EXPECT_EQ(sources[0].read + sources[1].read + sources[2].read, kLength) << "one source was read, once";
  EXPECT_EQ(cursors[0]->OwnSectorsRead(), sources[0].read);
}

TEST(SharedReader, ASlowRecorderHoldsTheOthersBackOnlyByTheRing) {
  constexpr uint32_t kLength = 400;
  constexpr int kChunks = 4;
  constexpr uint32_t kChunkSectors = 8;
  SharedReader reader(kChunks, kChunkSectors);
  CountedSource sources[3];
  auto slow = reader.Join(0, TrackKey(kLength), sources[0].Make());
  auto a = reader.Join(1, TrackKey(kLength), sources[1].Make());
  auto b = reader.Join(2, TrackKey(kLength), sources[2].Make());
  std::atomic<bool> stop{false};
  // The slow recorder takes three sectors and waits for the test.
  std::vector<uint8_t> first(3 * CountedSource::kSector);
  ASSERT_TRUE(slow->Read(first.data(), 3, stop));

  std::mutex lock;
  std::condition_variable seen;
  std::map<int, uint32_t> waiting;  // who waited for room, and with how much taken
  std::atomic<uint32_t> taken[3] = {3, 0, 0};
  reader.SetWaitHook([&](int who) {
    std::lock_guard<std::mutex> hold(lock);
    waiting.emplace(who, taken[who].load());
    seen.notify_all();
  });
  std::vector<uint8_t> gotA, gotB;
  std::thread ta([&] { gotA = ReadAll(*a, kLength, stop, [&](uint32_t n) { taken[1] = n; }, 1); });
  std::thread tb([&] { gotB = ReadAll(*b, kLength, stop, [&](uint32_t n) { taken[2] = n; }, 1); });
  {
    std::unique_lock<std::mutex> hold(lock);
    seen.wait(hold, [&] { return waiting.count(1) && waiting.count(2); });
  }
  // The others got the whole ring ahead of the slow one, not a sector more,
  // and no fewer.
  EXPECT_EQ(waiting[1], kChunks * kChunkSectors);
  EXPECT_EQ(waiting[2], kChunks * kChunkSectors);
  std::vector<uint8_t> rest((kLength - 3) * CountedSource::kSector);
  ASSERT_TRUE(slow->Read(rest.data(), kLength - 3, stop));
  ta.join();
  tb.join();
  first.insert(first.end(), rest.begin(), rest.end());
  EXPECT_TRUE(first == Expected(kLength));
  EXPECT_TRUE(gotA == Expected(kLength));
  EXPECT_TRUE(gotB == Expected(kLength));
  EXPECT_EQ(reader.SectorsRead(), kLength);

  // A stop ends a wait for room.
  SharedReader small(1, 4);
  CountedSource s1, s2;
  auto lagging = small.Join(1, TrackKey(64), s1.Make());
  auto ahead = small.Join(2, TrackKey(64), s2.Make());
  std::atomic<bool> stopNow{false};
  small.SetWaitHook([&](int) { stopNow = true; });
  std::vector<uint8_t> buf(64 * CountedSource::kSector);
  EXPECT_FALSE(ahead->Read(buf.data(), 64, stopNow));
}

TEST(SharedReader, ALeavingReaderHandsOnAndLateOrRepeatedComersReadTheirOwn) {
  constexpr uint32_t kLength = 300;
  SharedReader reader(4, 8);
  std::atomic<bool> stop{false};
  CountedSource a, b;
  auto ca = reader.Join(1, TrackKey(kLength), a.Make());
  auto cb = reader.Join(2, TrackKey(kLength), b.Make());
  std::vector<uint8_t> part(20 * CountedSource::kSector);
  ASSERT_TRUE(ca->Read(part.data(), 20, stop));  // three chunks from a's source
  ca.reset();                                    // a stops; b's source takes over
  EXPECT_TRUE(ReadAll(*cb, kLength, stop) == Expected(kLength));
  EXPECT_EQ(a.read, 24u);
  EXPECT_EQ(b.read, kLength) << "brought up to the place, then read on";

  // Once the start of the track has left the ring, a newcomer reads its own.
  CountedSource c;
  auto cc = reader.Join(3, TrackKey(kLength), c.Make());
  EXPECT_TRUE(ReadAll(*cc, kLength, stop) == Expected(kLength));
  EXPECT_EQ(c.read, kLength);
  // And a recorder's next copy is a round of its own, not the one it is in.
  CountedSource d1, d2;
  auto first = reader.Join(4, TrackKey(kLength), d1.Make());
  auto second = reader.Join(4, TrackKey(kLength), d2.Make());
  EXPECT_TRUE(ReadAll(*second, kLength, stop) == Expected(kLength));
  EXPECT_EQ(d2.read, kLength);
  EXPECT_EQ(d1.read, 0u);
  // Another track is never served from this one's round.
  CountedSource e;
  auto other = reader.Join(5, TrackKey(kLength - 1), e.Make());
  EXPECT_TRUE(ReadAll(*other, kLength - 1, stop) == Expected(kLength - 1));
  EXPECT_EQ(e.read, kLength - 1);
}
