// Where each generation's statistics block keeps the counters the driver reads.
#include "fw_engine.h"

namespace adapter {

namespace {

constexpr int N = -1;          // the generation has no such counter
constexpr int J = -2;          // computed (jabber on KS2/KS3)
constexpr int B = 1000;        // B + n: word n of the port's block

struct Row {
  int piv, piv2;   // Pivard absolute words (second: summed with the first)
  int ks2, ks2b;   // KS2
  int ks3, vesk;
};

// Columns: Pivard (absolute), KS2, KS3 and Veskarn (B + n = word n of the
// port's block; plain numbers are absolute words).
const Row kRows[] = {
    {78, N, B + 10, N, B + 16, B + 22},    // RxCrcErrors
    {82, N, B + 11, N, B + 17, B + 23},    // RxAlignmentSymbolErrors
    {84, N, B + 12, N, B + 18, B + 24},    // RxPauseFrames
    {N, N, N, N, B + 19, B + 25},          // RxPriorityPauseFrames
    {98, N, B + 13, N, B + 20, B + 26},    // RxControlFrames
    {102, N, B + 14, N, B + 21, B + 27},   // RxInRangeErrors
    {103, N, B + 15, N, B + 22, B + 28},   // RxOutRangeErrors
    {90, N, B + 16, N, B + 23, B + 29},    // RxFrameTooLong
    {104, 105, B + 17, B + 18, B + 24, B + 30},  // RxAddressFiltered
    {106, N, B + 19, N, B + 25, B + 31},   // RxDroppedTooSmall
    {107, N, B + 20, N, B + 26, B + 32},   // RxDroppedTooShort
    {108, N, B + 21, N, B + 27, B + 33},   // RxDroppedHeaderTooSmall
    {109, N, B + 22, N, B + 28, B + 34},   // RxDroppedTcpLength
    {110, N, B + 23, N, B + 29, B + 35},   // RxDroppedRunt
    {111, N, B + 34, N, B + 40, B + 46},   // RxIpChecksumErrs
    {112, N, B + 35, N, B + 41, B + 47},   // RxTcpChecksumErrs
    {113, N, B + 36, N, B + 42, B + 48},   // RxUdpChecksumErrs
    {24, N, B + 56, N, B + 56, B + 62},    // TxPauseFrames
    {N, N, N, N, N, B + 63},               // TxPriorityPauseFrames
    {32, N, B + 57, N, B + 58, B + 64},    // TxControlFrames
    {140, N, B + 68, N, B + 69, B + 75},   // RxppFifoOverflowDrop
    {140, N, B + 69, N, B + 70, B + 76},   // RxInputFifoOverflowDrop
    {N, N, N, N, B + 71, B + 77},          // PmemFifoOverflowDrop
    {97, N, J, N, J, B + 78},              // JabberEvents
    {N, N, 136, N, 294, 414},              // RxDropsNoPbuf
    {N, N, 138, N, 296, 416},              // RxDropsNoErxDescr
    {N, N, 139, N, 297, 417},              // RxDropsNoTpreDescr
    {142, N, 148, N, 304, 424},            // RxDropsTooManyFrags
    {138, N, 150, N, 306, 426},            // ForwardedPackets
    {146, N, 151, N, 307, 427},            // RxDropsMtu
    {N, N, 263, N, 442, 650},              // EthRedDrops
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == static_cast<size_t>(Stat::Count));

int resolve(int v, unsigned block_base) {
  if (v == N) return -1;
  if (v >= B) return static_cast<int>(block_base) + (v - B);
  return v;
}

unsigned portBlockWords(Gen g) {
  switch (g) {
    case Gen::KS2: return 66;
    case Gen::KS3: return 72;
    case Gen::Veskarn: return 102;
    case Gen::Pivard: return 0;
  }
  return 0;
}

}  // namespace

uint32_t statsBlockBytes(Gen g) {
  switch (g) {
    case Gen::Pivard: return 672;
    case Gen::KS2: return 1076;
    case Gen::KS3: return 1804;
    case Gen::Veskarn: return 2696;
  }
  return 0;
}

uint32_t statsNoDmaOffset(Gen g) {
  switch (g) {
    case Gen::KS2: return 860;
    case Gen::KS3: return 1480;
    case Gen::Veskarn: return 2044;
    case Gen::Pivard: return 0;
  }
  return 0;
}

int statsWord(Gen g, Stat s, unsigned port) {
  if (s >= Stat::Count) return -1;
  const Row& r = kRows[static_cast<unsigned>(s)];
  unsigned base = port * portBlockWords(g);
  switch (g) {
    case Gen::Pivard: return r.piv;
    case Gen::KS2:
      if (r.ks2 == J) return port == 0 ? 159 : 160;
      return resolve(r.ks2, base);
    case Gen::KS3:
      if (r.ks3 == J) return static_cast<int>(72 * (port + 1));
      return resolve(r.ks3, base);
    case Gen::Veskarn: return resolve(r.vesk, base);
  }
  return -1;
}

int statsWordSecond(Gen g, Stat s, unsigned port) {
  if (s >= Stat::Count) return -1;
  const Row& r = kRows[static_cast<unsigned>(s)];
  switch (g) {
    case Gen::Pivard: return r.piv2;
    case Gen::KS2: return resolve(r.ks2b, port * portBlockWords(g));
    default: return -1;
  }
}

}  // namespace adapter
