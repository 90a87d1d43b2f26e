// The disc check on a virtual recorder with unreadable and slow ranges: the
// ranges come out exactly, with their files, and the speed graph shows the
// slow part where it is, on a clock the test keeps itself.

#include <gtest/gtest.h>

#include "CDevCmdRW.h"
#include "VirtualRecorder.h"
#include "support/TakenOutDrive.h"
#include "analysis/DiscCheck.h"
#include "burnctrl/BurnTestSupport.h"
#include "support/RunCommand.h"

TEST(DiscCheck, UnreadableRangesComeOutExactlyWithTheirFilesAndTheSlowPartShows) {
  ScratchFolder dir;
  WriteBytes(dir, "src/big.bin", PatternBytes(600 * 1024, 1));
  dir.Write("src/small.txt", "small\n");
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "d.vdisc", "dvd-r", &error)) << error;
  CommandResult r = RunCommand(std::string(VARNEX_CLI_PATH) + " burn --drive virtual:" + Quoted(dir / "d.vdisc") +
                               " " + Quoted(dir / "src"));
  ASSERT_EQ(0, r.status) << r.output;

  auto v = std::make_unique<VirtualRecorder>();
  ASSERT_TRUE(v->Open(dir / "d.vdisc", &error)) << error;
  VirtualFaults f;
  f.unreadable = {{300, 309}, {313, 313}};
  f.slowRead = {{400, 447}};
  ASSERT_TRUE(v->SetFaults(f, &error)) << error;
  CDevCmdRW drive(std::move(v), 3);

  double now = 0;
  VirtualRecorder::SetReadPace([&](int32_t, uint32_t count, bool slow) { now += count * (slow ? 0.01 : 0.001); });
  CheckOptions options;
  options.clock = [&] { return now; };
  options.block = 8;
  options.samples = 1000;  // one sample a block
  int seen = 0;
  options.sampled = [&](const CheckReport& soFar) { seen = int(soFar.samples.size()); };
  const CheckReport report = CheckDisc(drive, options);
  VirtualRecorder::SetReadPace(nullptr);

  ASSERT_EQ(CheckReport::kDone, report.state) << report.why;
  ASSERT_EQ(2u, report.unreadable.size());
  EXPECT_EQ(300u, report.unreadable[0].first);
  EXPECT_EQ(309u, report.unreadable[0].last);
  EXPECT_EQ(313u, report.unreadable[1].first);
  EXPECT_EQ(313u, report.unreadable[1].last) << "the block around it is read again sector by sector";
  EXPECT_EQ(11u, report.unreadableSectors);
  EXPECT_EQ(std::vector<std::string>{"src/big.bin"}, report.unreadable[0].owners);
  EXPECT_EQ(int(report.samples.size()), seen) << "every sample is told as it is taken";
  double slowest = 1e9;
  uint32_t slowAt = 0;
  for (const CheckSample& s : report.samples)
    if (s.factor < slowest) slowest = s.factor, slowAt = s.lba;
  EXPECT_GE(slowAt, 400u);
  EXPECT_LE(slowAt, 447u);
  EXPECT_NEAR(2048 / 0.01 / 1385000.0, slowest, 1e-6) << "a slow sector took 10 ms";
  const std::string text = CheckReportText(report);
  EXPECT_NE(std::string::npos, text.find("  300-309 (00:06:00-00:06:09): src/big.bin\n")) << text;
  EXPECT_NE(std::string::npos, text.find("Slowest: 0.1x at sector 400")) << text;

  // The plot marks both ranges and is well-formed.
  const std::string svg = CheckPlotSvg(report);
  EXPECT_NE(std::string::npos, svg.find("<title>300-309 src/big.bin</title>"));
  dir.Write("p.svg", svg);
  if (HaveTool("xmllint")) EXPECT_EQ(0, RunCommand("xmllint --noout " + Quoted(dir / "p.svg")).status);
}

TEST(DiscCheck, ADiscTakenOutEndsTheCheckAndIsToldNotCountedAsUnreadable) {
  ScratchFolder dir;
  WriteBytes(dir, "src/big.bin", PatternBytes(600 * 1024, 2));
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "d.vdisc", "cd-r", &error)) << error;
  CommandResult r = RunCommand(std::string(VARNEX_CLI_PATH) + " burn --drive virtual:" + Quoted(dir / "d.vdisc") +
                               " " + Quoted(dir / "src"));
  ASSERT_EQ(0, r.status) << r.output;
  auto v = std::make_unique<VirtualRecorder>();
  ASSERT_TRUE(v->Open(dir / "d.vdisc", &error)) << error;
  CDevCmdRW drive(std::make_unique<TakenOutDrive>(std::move(v), 208), 3);
  CheckOptions options;
  options.block = 16;
  const CheckReport report = CheckDisc(drive, options);
  EXPECT_EQ(CheckReport::kLost, report.state);
  EXPECT_EQ(0u, report.unreadableSectors) << "the sectors after the disc went are not the disc's fault";
  EXPECT_EQ(208u, report.sectors) << "the check ends where the disc went";
  EXPECT_NE(std::string::npos, report.why.find("2/3A/00")) << report.why;
  const std::string text = CheckReportText(report);
  EXPECT_NE(std::string::npos, text.find("Ended at sector 208: " + report.why)) << text;
  EXPECT_EQ(std::string::npos, text.find("Every sector is readable")) << text;
}
