// The reverbs and delay panning. Where the first reflections land is checked
// on a real render (e2e); here: the limits of the rooms each reverb refuses,
// the halving per tap order, truncation toward zero, the spill into the next
// block, and block-split invariance.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "base/limits.h"
#include "reverb/delay_pan.h"
#include "reverb/recursive_reverb.h"
#include "reverb/tap_reverb.h"

namespace sorvan {
namespace {

using Line = std::vector<std::int64_t>;
using Cells = std::map<long, std::int64_t>;  // the nonzero cells of a line

Cells nonZero(const Line& v) {
  Cells out;
  for (std::size_t i = 0; i < v.size(); ++i)
    if (v[i] != 0) out[static_cast<long>(i)] = v[i];
  return out;
}

// The return and spill pairs of a reverb, one block long each.
struct Lines {
  explicit Lines(std::size_t n) : returnL(n), returnR(n), spillL(n), spillR(n) {}
  Line returnL, returnR, spillL, spillR;
};

std::unique_ptr<RecurseReverbState> recursive(float room = 75, float p1 = 37, float p2 = 39,
                                              float p3 = 43, std::string* refused = nullptr) {
  auto s = std::make_unique<RecurseReverbState>();
  const auto message = setupRecurseReverb(*s, 48000.0, room, p1, p2, p3, 50);
  if (refused) *refused = message.value_or("");
  return s;
}
void run(RecurseReverbState& s, Lines& a, long n, const double* L, const double* R) {
  RecurseReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

// The 75-foot room with the listener at p1 percent of its length.
TapReverbState tap(long buffer, int taps, float p1 = 37, float room = 75, float p3 = 43,
                   std::string* refused = nullptr) {
  TapReverbState s;
  const auto message = setupDiscreteReverb(s, buffer, 48000.0, room, taps, p1, 39, p3);
  if (refused) *refused = message.value_or("");
  return s;
}
void run(const TapReverbState& s, Lines& a, long n, const double* L, const double* R) {
  DiscreteReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

// Each room refusal reaches the user as a row of the bad-input suite (e2e);
// here the limits behind them: positions outside 0..100 percent, a travel
// time past a 131072-sample line (4000 feet), a last-order tap delay that
// reaches the line (4014 samples with one order, 8034 with two), and more
// than 11 orders, which are 11.
TEST(ReverbTest, RoomsBeyondTheirLimitsAreRefused) {
  std::string refused;
  for (const auto& [p1, p2, p3, room] : {std::array<float, 4>{-1, 39, 43, 75},
                                         {37, 120, 43, 75},
                                         {37, 39, -1, 75},
                                         {37, 39, 43, 4000}}) {
    recursive(room, p1, p2, p3, &refused);
    EXPECT_EQ(refused, room > 100 ? "Please reduce room size in reverb!\n"
                                  : "Illegal value for reverb position parameter\n")
        << p1 << " " << p2 << " " << p3;
  }
  const std::string decrease = ">>> Error:  Please decrease reverb tap number to ";
  for (const auto& [p1, p3, orders, buffer, message] :
       {std::tuple<float, float, int, long, std::string>{
            -1, 43, 1, 131072, ">>> Error:  Illegal value for reverb position parameter\n"},
        {37, 101, 1, 131072, ">>> Error:  Illegal value for reverb position parameter\n"},
        {37, 43, 1, 4014, decrease + "0 or room length to 74 feet\n"},
        {37, 43, 2, 8034, decrease + "1 or room length to 74 feet\n"},
        {37, 43, 1, 4015, ""}}) {
    tap(buffer, orders, p1, 75, p3, &refused);
    EXPECT_EQ(refused, message) << p1 << " " << p3 << " " << buffer;
  }
  for (auto [given, limited] : {std::pair{0, 1}, {-4, 1}, {5, 5}, {12, 11}})
    EXPECT_EQ(tap(131072, given).taps, limited) << given;
}

// One tap per surface and order, halved per order (500 then 250 of 1000),
// truncated toward zero; taps past the block go to the spill at their
// position less the block length.
TEST(TapReverbTest, TapsPerSurfaceAndOrderTruncationAndSpill) {
  std::vector<double> send(9000, 0.0);
  send[0] = 1000.0;
  Lines a(9000);
  run(tap(9000, 2), a, 9000, send.data(), send.data());
  Cells left = {{1612, 500}, {2522, 500}, {4014, 500}, {2356, 500},
                {4476, 250}, {4369, 250}, {6690, 250}, {5425, 250}};
  Cells right = left;
  left[2276] = right[3018] = 500, left[6046] = right[8034] = 250;
  EXPECT_EQ(std::pair(nonZero(a.returnL), nonZero(a.returnR)), std::pair(left, right));
  send.assign(3000, 0.0);
  send[2900] = -3.0;
  send[0] = 1.0;  // its taps of 0.5 are lost to the truncation
  Lines b(8192), wall(8192);
  run(tap(8192, 1), b, 3000, send.data(), send.data());
  EXPECT_EQ(nonZero(b.returnL), Cells{});
  EXPECT_EQ(nonZero(b.spillL), (Cells{{2176, -1}, {1512, -1}, {2422, -1}, {3914, -1}, {2256, -1}}));
  run(tap(8192, 1, 0), wall, 3000, send.data(), send.data());
  EXPECT_EQ(wall.returnL[2900], -1) << "at the rear wall its tap lands on the send sample";
}

// The carried tail joins the next block's send before truncation, so a split
// is exact for whole-number sends, as long as every block but the last is at
// least the longest delay (2511 samples in the recursive room, 10550 for
// three orders of taps), as the mix's blocks are.
TEST(ReverbTest, BlockSplitInvariance) {
  const long part = 16384;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> sample(-2000000, 2000000);
  std::vector<double> L(4 * part, 0.0), R(4 * part, 0.0);
  for (long i = 0; i < 3 * part; ++i) L[i] = sample(rng), R[i] = sample(rng);
  const TapReverbState taps = tap(2 * part, 3);
  auto render = [&](bool tapped, const std::vector<long>& blocks) {
    const auto room = recursive();
    Lines a(kBlockFrames);
    std::pair<Line, Line> stream;
    for (long pos = 0, k = 0; k < static_cast<long>(blocks.size()); pos += blocks[k++]) {
      a.returnL.swap(a.spillL), a.returnR.swap(a.spillR);
      std::fill(a.spillL.begin(), a.spillL.end(), 0),
          std::fill(a.spillR.begin(), a.spillR.end(), 0);
      tapped ? run(taps, a, blocks[k], &L[pos], &R[pos])
             : run(*room, a, blocks[k], &L[pos], &R[pos]);
      stream.first.insert(stream.first.end(), a.returnL.begin(), a.returnL.begin() + blocks[k]);
      stream.second.insert(stream.second.end(), a.returnR.begin(), a.returnR.begin() + blocks[k]);
    }
    return stream;
  };
  for (const bool tapped : {false, true}) {
    const auto whole = render(tapped, {2 * part, 2 * part});
    EXPECT_EQ(render(tapped, {11000, 30001, 4 * part - 41001}), whole) << tapped;
    EXPECT_EQ(render(tapped, {2 * part - 1, 12000, 2 * part - 11999}), whole) << tapped;
    EXPECT_NE(whole.second[3 * part + 100], 0) << "the tail reaches past the send";
  }
}

// The far side plays the near side `lag` samples late (half an 8.5 inch head
// at 13560 inches per second per 100 percent, truncated, at most the 255 the
// history holds), carried from one stretch to the next through the last 255
// samples; so any split renders the same.
TEST(DelayPanTest, FarSideLagsAcrossBlocksWhateverTheSplit) {
  Line signal(1200);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = std::lround(3e6 * std::sin(0.05 * i));
  auto render = [&](int position, double rate, const std::vector<long>& blocks) {
    DelayPanChannel c = delayPanChannel(position, rate);
    Line near, far;
    for (long pos = 0, k = 0; k < static_cast<long>(blocks.size()); pos += blocks[k++]) {
      const long n = blocks[k];
      Line L(n, 0), R(n, 0);
      DELAY_PAN(n, c, signal.data() + pos, L.data(), R.data());
      near.insert(near.end(), (position < 0 ? L : R).begin(), (position < 0 ? L : R).end());
      far.insert(far.end(), (position < 0 ? R : L).begin(), (position < 0 ? R : L).end());
    }
    return std::pair{near, far};
  };
  const std::tuple<int, double, long> cases[] = {
      {-50, 48000.0, 15}, {50, 48000.0, 15}, {99, 500000.0, 255},
      {0, 48000.0, 0},    {1, 48000.0, 0},   {-100, 48000.0, 1200}};  // hard left: right silent
  for (const auto& [position, rate, lag] : cases) {
    const auto whole = render(position, rate, {1200});
    Line late(lag, 0);
    late.insert(late.end(), signal.begin(), signal.end() - lag);
    EXPECT_EQ(whole, std::pair(signal, late)) << position;
    EXPECT_EQ(render(position, rate, {256, 300, 644}), whole) << position;
    EXPECT_EQ(render(position, rate, {3, 100, 7, 1, 1089}), whole) << position;
  }
}

}  // namespace
}  // namespace sorvan
