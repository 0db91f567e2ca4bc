#include "imaging/io/formats/tiff/Ccitt.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "imaging/model/PxStartup.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

// ---------------------------------------------------------------------------
// Code table

namespace {

constexpr int32_t kRunIgnore = -1;
constexpr int32_t kRunEOL = -3;

// Builds a table entry from a text of '0' and '1' characters.
constexpr TPxCCITTCode C(const char* Bits, int32_t Run)
{
    uint32_t value = 0;
    uint8_t length = 0;
    for (const char* p = Bits; *p != 0; ++p) {
        value = (value << 1) | static_cast<uint32_t>(*p == '1');
        ++length;
    }
    return TPxCCITTCode{length, value, Run};
}

// An end of line or ignored code of Length bits: Length - 1 zeros and a one.
constexpr TPxCCITTCode Ones(uint8_t Length, int32_t Run) { return TPxCCITTCode{Length, 1u, Run}; }

}  // namespace

// The indexes 104 to 127 are the same for both colours: the end of line, the
// ignored 9 to 11 bit codes and the ends of line after 1 to 20 fill zeros.
#define PX_CCITT_TAIL                                                                                          \
    Ones(12, kRunEOL), Ones(9, kRunIgnore), Ones(10, kRunIgnore), Ones(11, kRunIgnore), Ones(13, kRunEOL),   \
        Ones(14, kRunEOL), Ones(15, kRunEOL), Ones(16, kRunEOL), Ones(17, kRunEOL), Ones(18, kRunEOL),        \
        Ones(19, kRunEOL), Ones(20, kRunEOL), Ones(21, kRunEOL), Ones(22, kRunEOL), Ones(23, kRunEOL),        \
        Ones(24, kRunEOL), Ones(25, kRunEOL), Ones(26, kRunEOL), Ones(27, kRunEOL), Ones(28, kRunEOL),        \
        Ones(29, kRunEOL), Ones(30, kRunEOL), Ones(31, kRunEOL), Ones(32, kRunEOL)

#define PX_CCITT_EXT_MAKEUP                                                                                  \
    C("00000001000", 1792), C("00000001100", 1856), C("00000001101", 1920), C("000000010010", 1984),         \
        C("000000010011", 2048), C("000000010100", 2112), C("000000010101", 2176), C("000000010110", 2240), \
        C("000000010111", 2304), C("000000011100", 2368), C("000000011101", 2432), C("000000011110", 2496), \
        C("000000011111", 2560)

const TPxCCITTCode PxCCITTCodes[2][128] = {
    {
        // white terminating codes 0..63
        C("00110101", 0), C("000111", 1), C("0111", 2), C("1000", 3), C("1011", 4), C("1100", 5),
        C("1110", 6), C("1111", 7), C("10011", 8), C("10100", 9), C("00111", 10), C("01000", 11),
        C("001000", 12), C("000011", 13), C("110100", 14), C("110101", 15), C("101010", 16),
        C("101011", 17), C("0100111", 18), C("0001100", 19), C("0001000", 20), C("0010111", 21),
        C("0000011", 22), C("0000100", 23), C("0101000", 24), C("0101011", 25), C("0010011", 26),
        C("0100100", 27), C("0011000", 28), C("00000010", 29), C("00000011", 30), C("00011010", 31),
        C("00011011", 32), C("00010010", 33), C("00010011", 34), C("00010100", 35), C("00010101", 36),
        C("00010110", 37), C("00010111", 38), C("00101000", 39), C("00101001", 40), C("00101010", 41),
        C("00101011", 42), C("00101100", 43), C("00101101", 44), C("00000100", 45), C("00000101", 46),
        C("00001010", 47), C("00001011", 48), C("01010010", 49), C("01010011", 50), C("01010100", 51),
        C("01010101", 52), C("00100100", 53), C("00100101", 54), C("01011000", 55), C("01011001", 56),
        C("01011010", 57), C("01011011", 58), C("01001010", 59), C("01001011", 60), C("00110010", 61),
        C("00110011", 62), C("00110100", 63),
        // white make-up codes 64..1728
        C("11011", 64), C("10010", 128), C("010111", 192), C("0110111", 256), C("00110110", 320),
        C("00110111", 384), C("01100100", 448), C("01100101", 512), C("01101000", 576), C("01100111", 640),
        C("011001100", 704), C("011001101", 768), C("011010010", 832), C("011010011", 896),
        C("011010100", 960), C("011010101", 1024), C("011010110", 1088), C("011010111", 1152),
        C("011011000", 1216), C("011011001", 1280), C("011011010", 1344), C("011011011", 1408),
        C("010011000", 1472), C("010011001", 1536), C("010011010", 1600), C("011000", 1664),
        C("010011011", 1728),
        PX_CCITT_EXT_MAKEUP,
        PX_CCITT_TAIL,
    },
    {
        // black terminating codes 0..63
        C("0000110111", 0), C("010", 1), C("11", 2), C("10", 3), C("011", 4), C("0011", 5), C("0010", 6),
        C("00011", 7), C("000101", 8), C("000100", 9), C("0000100", 10), C("0000101", 11),
        C("0000111", 12), C("00000100", 13), C("00000111", 14), C("000011000", 15), C("0000010111", 16),
        C("0000011000", 17), C("0000001000", 18), C("00001100111", 19), C("00001101000", 20),
        C("00001101100", 21), C("00000110111", 22), C("00000101000", 23), C("00000010111", 24),
        C("00000011000", 25), C("000011001010", 26), C("000011001011", 27), C("000011001100", 28),
        C("000011001101", 29), C("000001101000", 30), C("000001101001", 31), C("000001101010", 32),
        C("000001101011", 33), C("000011010010", 34), C("000011010011", 35), C("000011010100", 36),
        C("000011010101", 37), C("000011010110", 38), C("000011010111", 39), C("000001101100", 40),
        C("000001101101", 41), C("000011011010", 42), C("000011011011", 43), C("000001010100", 44),
        C("000001010101", 45), C("000001010110", 46), C("000001010111", 47), C("000001100100", 48),
        C("000001100101", 49), C("000001010010", 50), C("000001010011", 51), C("000000100100", 52),
        C("000000110111", 53), C("000000111000", 54), C("000000100111", 55), C("000000101000", 56),
        C("000001011000", 57), C("000001011001", 58), C("000000101011", 59), C("000000101100", 60),
        C("000001011010", 61), C("000001100110", 62), C("000001100111", 63),
        // black make-up codes 64..1728
        C("0000001111", 64), C("000011001000", 128), C("000011001001", 192), C("000001011011", 256),
        C("000000110011", 320), C("000000110100", 384), C("000000110101", 448), C("0000001101100", 512),
        C("0000001101101", 576), C("0000001001010", 640), C("0000001001011", 704), C("0000001001100", 768),
        C("0000001001101", 832), C("0000001110010", 896), C("0000001110011", 960), C("0000001110100", 1024),
        C("0000001110101", 1088), C("0000001110110", 1152), C("0000001110111", 1216),
        C("0000001010010", 1280), C("0000001010011", 1344), C("0000001010100", 1408),
        C("0000001010101", 1472), C("0000001011010", 1536), C("0000001011011", 1600),
        C("0000001100100", 1664), C("0000001100101", 1728),
        PX_CCITT_EXT_MAKEUP,
        PX_CCITT_TAIL,
    },
};

#undef PX_CCITT_TAIL
#undef PX_CCITT_EXT_MAKEUP

// ---------------------------------------------------------------------------
// Decode trees

namespace {

// A node: Value 128 for an inner node, else the index of a code; children
// are indexes into the tree's node array, -1 for none. Node 0 is the root.
struct TTreeNode {
    int32_t Value = PxCCITTCodeNotFound;
    int32_t Left = -1;
    int32_t Right = -1;
};

std::vector<TTreeNode> gTrees[2];
std::atomic<bool> gTreesReady{false};
std::mutex gTreesLock;

void BuildTree(std::vector<TTreeNode>& Tree, const TPxCCITTCode* Codes)
{
    Tree.assign(1, TTreeNode{});
    for (int index = 0; index < 128; ++index) {
        const TPxCCITTCode& code = Codes[index];
        int32_t node = 0;
        for (int bit = code.Length - 1; bit >= 0; --bit) {
            const bool right = ((code.Value >> bit) & 1u) != 0;
            int32_t child = right ? Tree[static_cast<size_t>(node)].Right : Tree[static_cast<size_t>(node)].Left;
            if (child < 0) {
                child = static_cast<int32_t>(Tree.size());
                Tree.push_back(TTreeNode{});
                TTreeNode& parent = Tree[static_cast<size_t>(node)];
                (right ? parent.Right : parent.Left) = child;
                parent.Value = PxCCITTCodeNotFound;
            }
            node = child;
        }
        Tree[static_cast<size_t>(node)].Value = index;
    }
}

void EnsureTrees()
{
    if (!gTreesReady.load(std::memory_order_acquire)) PxInitializeCCITT();
}

}  // namespace

void PxCCITTBuildTrees()
{
    BuildTree(gTrees[0], PxCCITTCodes[0]);
    BuildTree(gTrees[1], PxCCITTCodes[1]);
}

void PxInitializeCCITT()
{
    std::lock_guard<std::mutex> lock(gTreesLock);
    if (gTreesReady.load(std::memory_order_relaxed)) return;
    PxCCITTBuildTrees();
    gTreesReady.store(true, std::memory_order_release);
}

void PxFinalizeCCITT()
{
    std::lock_guard<std::mutex> lock(gTreesLock);
    gTreesReady.store(false, std::memory_order_release);
    for (auto& tree : gTrees) std::vector<TTreeNode>().swap(tree);
}

namespace {
const TPxStartupRegistration kRegistration(psCCITT, PxInitializeCCITT, PxFinalizeCCITT);
}  // namespace

// ---------------------------------------------------------------------------
// Bit reading and row helpers

namespace {

// The 32 bits from bit Pos on, the first in the most significant place; bits
// past the data read as 0.
uint32_t Peek32(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t Pos)
{
    const int64_t first = Pos >> 3;
    uint64_t word = 0;
    for (int64_t i = first; i < first + 5; ++i) {
        uint8_t b = (i >= 0 && i < Size) ? Data[i] : 0;
        if (FillOrder == 2) b = PxReverseBitsTable[b];
        word = (word << 8) | b;
    }
    return static_cast<uint32_t>(word >> (8 - (Pos & 7)));
}

bool BitAt(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t Pos)
{
    return (Peek32(Data, Size, FillOrder, Pos) & 0x80000000u) != 0;
}

inline int PixelAt(const uint8_t* Row, int64_t X) { return (Row[X >> 3] >> (7 - (X & 7))) & 1; }

// The first X in [From, Width) whose pixel is Bit, or Width.
int64_t FindBit(const uint8_t* Row, int64_t From, int64_t Width, int Bit)
{
    if (From < 0) From = 0;
    const uint8_t skip = Bit != 0 ? 0x00 : 0xFF;
    int64_t x = From;
    while (x < Width) {
        if ((x & 7) == 0 && Row[x >> 3] == skip) {
            x += 8;
            continue;
        }
        if (PixelAt(Row, x) == Bit) return x;
        ++x;
    }
    return Width;
}

// Sets pixels [X0, X1) of the row to Bit, clipped to [0, Width).
void SetRun(uint8_t* Row, int64_t X0, int64_t X1, int64_t Width, int Bit)
{
    X0 = std::max<int64_t>(X0, 0);
    X1 = std::min<int64_t>(X1, Width);
    for (int64_t x = X0; x < X1;) {
        if ((x & 7) == 0 && x + 8 <= X1) {
            const int64_t bytes = (X1 - x) >> 3;
            std::memset(Row + (x >> 3), Bit != 0 ? 0xFF : 0x00, static_cast<size_t>(bytes));
            x += bytes << 3;
            continue;
        }
        const auto mask = static_cast<uint8_t>(0x80u >> (x & 7));
        if (Bit != 0)
            Row[x >> 3] |= mask;
        else
            Row[x >> 3] = static_cast<uint8_t>(Row[x >> 3] & ~mask);
        ++x;
    }
}

// Changing elements b1 and b2 of the reference row for the current position
// A0 (-1 before the row) and colour Black; White is the bit value of a white
// pixel in the row. The row counts as white before its first pixel.
void FindB(const uint8_t* Ref, int64_t A0, bool Black, int64_t Width, int White, int64_t& B1, int64_t& B2)
{
    const int blackBit = 1 - White;
    const int colourBit = Black ? blackBit : White;
    const int oppositeBit = 1 - colourBit;
    // b1: the first pixel after a0 of the opposite colour whose left
    // neighbour has a0's colour.
    int64_t x = A0 < 0 ? 0 : A0 + 1;
    for (;;) {
        x = FindBit(Ref, x, Width, oppositeBit);
        if (x >= Width) break;
        const int left = x == 0 ? White : PixelAt(Ref, x - 1);
        if (left == colourBit) break;
        // Inside a run of the opposite colour: go past it.
        x = FindBit(Ref, x, Width, colourBit);
    }
    B1 = x;
    B2 = x >= Width ? Width : FindBit(Ref, x, Width, colourBit);
}

// ---------------------------------------------------------------------------
// Decoding

int DecodeCodeFromTree(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t BitPos, bool Black)
{
    if (BitPos >= Size * 8) return 127;
    const std::vector<TTreeNode>& tree = gTrees[Black ? 1 : 0];
    if (tree.empty()) return 127;
    const uint32_t word = Peek32(Data, Size, FillOrder, BitPos);
    int32_t node = 0;
    for (int i = 0; i < 32; ++i) {
        const TTreeNode& n = tree[static_cast<size_t>(node)];
        node = ((word >> (31 - i)) & 1u) != 0 ? n.Right : n.Left;
        if (node < 0) return PxCCITTCodeNotFound;
        const int32_t value = tree[static_cast<size_t>(node)].Value;
        if (value != PxCCITTCodeNotFound) return value;
    }
    return PxCCITTCodeNotFound;
}

// The sum of a sequence of make-up codes ended by a terminating code of one
// colour, BitPos moved past them. Negative when the sequence is broken: -3
// at an end of line (BitPos left on it), -1 for an ignored or unknown code
// (BitPos moved past it).
int64_t ReadRun(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t& BitPos, bool Black)
{
    int64_t total = 0;
    for (;;) {
        const int index = DecodeCodeFromTree(Data, Size, FillOrder, BitPos, Black);
        if (index == PxCCITTCodeNotFound) {
            ++BitPos;
            return kRunIgnore;
        }
        const TPxCCITTCode& code = PxCCITTCodes[Black ? 1 : 0][index];
        if (code.Run == kRunEOL) return kRunEOL;
        BitPos += code.Length;
        if (code.Run < 0) return kRunIgnore;
        total += code.Run;
        if (index < PxCCITTMakeupCodes) return total;
    }
}

// Two-dimensional mode codes in the order they are tried.
enum TMode { mdZeros, mdPass, mdHorizontal, mdVL3, mdVL2, mdVL1, mdV0, mdVR1, mdVR2, mdVR3, mdExt2D, mdExt1D, mdEOL };

struct TModeCode {
    uint8_t Length;
    uint32_t Value;
};

constexpr TModeCode kModeCodes[13] = {
    {12, 0x000}, {4, 0x1}, {3, 0x1}, {7, 0x2}, {6, 0x2}, {3, 0x2}, {1, 0x1},
    {3, 0x3},    {6, 0x3}, {7, 0x3}, {10, 0xF}, {12, 0xF}, {12, 0x1},
};

int MatchMode(uint32_t Word)
{
    for (int mode = 0; mode < 13; ++mode)
        if ((Word >> (32 - kModeCodes[mode].Length)) == kModeCodes[mode].Value) return mode;
    return mdZeros;
}

}  // namespace

int PxCCITTDecodeCode(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t BitPos, bool Black)
{
    EnsureTrees();
    return DecodeCodeFromTree(Data, Size, FillOrder, BitPos, Black);
}

int64_t PxCCITTDecodeRow1D(uint8_t* Row, const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t BitPos,
                           int32_t Width)
{
    EnsureTrees();
    if (Width <= 0) return BitPos;
    std::memset(Row, 0xFF, (static_cast<size_t>(Width) + 7) / 8);
    const int64_t end = Size * 8;
    int64_t x = 0;
    bool black = false;
    bool makeupPending = false;
    bool codeRead = false;
    while (x < Width || makeupPending) {
        if (BitPos >= end) {
            // A truncated strip: the end of the data ends the row.
            if (black) SetRun(Row, x, Width, Width, 0);
            break;
        }
        const int index = DecodeCodeFromTree(Data, Size, FillOrder, BitPos, black);
        if (index == PxCCITTCodeNotFound) {
            ++BitPos;
            continue;
        }
        const TPxCCITTCode& code = PxCCITTCodes[black ? 1 : 0][index];
        BitPos += code.Length;
        if (code.Run == kRunEOL) {
            if (!codeRead) {
                // The end of line that precedes a row.
                codeRead = true;
                continue;
            }
            if (black) SetRun(Row, x, Width, Width, 0);
            break;
        }
        if (code.Run < 0) continue;
        codeRead = true;
        if (black) SetRun(Row, x, x + code.Run, Width, 0);
        x += code.Run;
        if (index >= PxCCITTMakeupCodes) {
            makeupPending = true;
        } else {
            makeupPending = false;
            black = !black;
        }
    }
    return BitPos;
}

int64_t PxCCITTDecodeRowMH(uint8_t* Row, const uint8_t* Data, int64_t Size, int32_t FillOrder, int32_t Width)
{
    const int64_t bits = PxCCITTDecodeRow1D(Row, Data, Size, FillOrder, 0, Width);
    return std::min<int64_t>((bits + 7) / 8, std::max<int64_t>(Size, 0));
}

namespace {

// The changing elements of a decoded row (1 white, 0 black).
void RowChanges(const uint8_t* Row, int64_t Width, std::vector<int32_t>& Out)
{
    Out.clear();
    int bit = 0;  // the start of a black run first
    for (int64_t x = FindBit(Row, 0, Width, bit); x < Width; x = FindBit(Row, x, Width, bit)) {
        Out.push_back(static_cast<int32_t>(x));
        bit = 1 - bit;
    }
}

// Changing elements b1 and b2 of the reference row's element list for the
// current position A0 (-1 before the row) and colour Black: b1 is the first
// element right of a0 that starts a run of the colour opposite to a0's
// (even entries start black runs), b2 the element after it; the width when
// the list ends.
void FindBInChanges(const std::vector<int32_t>& Ref, int64_t A0, bool Black, int64_t Width, int64_t& B1,
                    int64_t& B2)
{
    size_t i = static_cast<size_t>(std::upper_bound(Ref.begin(), Ref.end(), A0) - Ref.begin());
    if ((i & 1u) != (Black ? 1u : 0u)) ++i;
    B1 = i < Ref.size() ? std::min<int64_t>(Ref[i], Width) : Width;
    B2 = i + 1 < Ref.size() ? std::min<int64_t>(Ref[i + 1], Width) : Width;
}

}  // namespace

int64_t PxCCITTDecodeRow2D(uint8_t* Row, const uint8_t* Data, int64_t Size, bool EOLScan, int32_t FillOrder,
                           int64_t BitPos, uint8_t* RefRow, int32_t Width, TPxCCITTChanges* Changes)
{
    EnsureTrees();
    if (Width <= 0) return BitPos;
    const auto rowBytes = (static_cast<size_t>(Width) + 7) / 8;
    const int64_t width = Width;
    // b1 and b2 come from the reference row's changing elements as the
    // coder saw them: a pass over a black run of length 0 moves a0 by
    // nothing, which the bit row cannot tell from no run at all.
    std::vector<int32_t> refOwn;
    if (!Changes || !Changes->Known) RowChanges(RefRow, width, refOwn);
    const std::vector<int32_t>& ref = Changes && Changes->Known ? Changes->Positions : refOwn;
    std::vector<int32_t> cur;
    bool rebuild = false;  // cur cannot be told from the codes: take it from the row
    auto put = [&](int64_t x) {
        x = std::clamp<int64_t>(x, 0, width);
        if (!cur.empty()) x = std::max<int64_t>(x, cur.back());
        cur.push_back(static_cast<int32_t>(x));
    };
    std::memset(Row, 0xFF, rowBytes);
    const int64_t end = Size * 8;
    int64_t a0 = -1;
    bool black = false;
    bool first = true;
    while (a0 < width && BitPos < end) {
        const int64_t start = BitPos;
        int mode = MatchMode(Peek32(Data, Size, FillOrder, BitPos));
        BitPos += kModeCodes[mode].Length;
        if (mode == mdZeros) {
            if (!EOLScan) {
                first = false;
                continue;
            }
            while (BitPos < end && !BitAt(Data, Size, FillOrder, BitPos)) ++BitPos;
            if (BitPos >= end) break;
            ++BitPos;
            mode = mdEOL;
        }
        if (mode == mdEOL) {
            if (first) {
                first = false;
                if (BitPos >= end) break;
                const bool oneDimensional = BitAt(Data, Size, FillOrder, BitPos);
                ++BitPos;
                if (oneDimensional) {
                    BitPos = PxCCITTDecodeRow1D(Row, Data, Size, FillOrder, BitPos, Width);
                    rebuild = true;
                    break;
                }
                continue;
            }
            // The end of line of the next row ends this one and stays unread.
            if (black) SetRun(Row, a0, width, width, 0);
            BitPos = start;
            break;
        }
        first = false;
        const int64_t x0 = std::max<int64_t>(a0, 0);
        switch (mode) {
            case mdPass: {
                int64_t b1 = 0, b2 = 0;
                FindBInChanges(ref, a0, black, width, b1, b2);
                if (black) SetRun(Row, x0, b2, width, 0);
                a0 = b2;
                break;
            }
            case mdHorizontal: {
                // A broken run abandons the mode; an end of line inside is
                // left unread, so the next pass of the loop ends the row.
                const int64_t run1 = ReadRun(Data, Size, FillOrder, BitPos, black);
                if (run1 < 0) break;
                const int64_t run2 = ReadRun(Data, Size, FillOrder, BitPos, !black);
                if (run2 < 0) break;
                const int64_t a1 = x0 + run1;
                const int64_t a2 = a1 + run2;
                if (black)
                    SetRun(Row, x0, a1, width, 0);
                else
                    SetRun(Row, a1, a2, width, 0);
                put(a1);
                put(a2);
                a0 = a2;
                break;
            }
            case mdVL3:
            case mdVL2:
            case mdVL1:
            case mdV0:
            case mdVR1:
            case mdVR2:
            case mdVR3: {
                int64_t b1 = 0, b2 = 0;
                FindBInChanges(ref, a0, black, width, b1, b2);
                // Damaged data may point before the row or past its end.
                const int64_t a1 = std::clamp<int64_t>(b1 + (mode - mdV0), 0, width);
                if (black) SetRun(Row, x0, a1, width, 0);
                put(a1);
                a0 = a1;
                black = !black;
                break;
            }
            case mdExt2D:
            case mdExt1D: {
                // Uncompressed mode: codes of n = 1..11 bits (n - 1 zeros and
                // a one). 1..5: n - 1 white pixels and a black one; 6: five
                // white pixels; 7..11: n - 7 white pixels, then the mode ends
                // and the next bit gives the colour that follows.
                rebuild = true;
                int64_t x = x0;
                while (BitPos < end) {
                    const uint32_t word = Peek32(Data, Size, FillOrder, BitPos);
                    int n = 1;
                    while (n <= 11 && (word & (0x80000000u >> (n - 1))) == 0) ++n;
                    if (n > 11) break;
                    BitPos += n;
                    if (n <= 5) {
                        x += n - 1;
                        SetRun(Row, x, x + 1, width, 0);
                        x += 1;
                    } else if (n == 6) {
                        x += 5;
                    } else {
                        x += n - 7;
                        if (BitPos < end) {
                            black = BitAt(Data, Size, FillOrder, BitPos);
                            ++BitPos;
                        }
                        break;
                    }
                }
                a0 = x;
                break;
            }
            default:
                break;
        }
    }
    std::memcpy(RefRow, Row, rowBytes);
    if (Changes) {
        if (rebuild)
            RowChanges(Row, width, Changes->Positions);
        else
            Changes->Positions.swap(cur);
        Changes->Known = true;
    }
    return BitPos;
}

// ---------------------------------------------------------------------------
// Encoding

namespace {

// Collects the codes of one row after the caller's pending bits.
class TBitSink {
public:
    TBitSink(int32_t FillOrder, int32_t PendingBits, uint8_t PendingByte) : fillOrder_(FillOrder)
    {
        if (PendingBits > 0) {
            bytes_.push_back(PendingByte);
            bits_ = std::min(PendingBits, 7);
        }
    }

    void Put(uint32_t Value, int Length)
    {
        for (int i = Length - 1; i >= 0; --i) {
            const size_t index = static_cast<size_t>(bits_ >> 3);
            if (index == bytes_.size()) bytes_.push_back(0);
            if (((Value >> i) & 1u) != 0) {
                const int shift = static_cast<int>(bits_ & 7);
                bytes_[index] |= static_cast<uint8_t>(fillOrder_ == 2 ? (1u << shift) : (0x80u >> shift));
            }
            ++bits_;
        }
    }

    void PutCode(const TPxCCITTCode& Code) { Put(Code.Value, Code.Length); }

    void PutEOL() { Put(1, 12); }

    void PutRun(int64_t Run, bool Black)
    {
        const TPxCCITTCode* codes = PxCCITTCodes[Black ? 1 : 0];
        while (Run >= 64) {
            int64_t makeup = 2560;
            if (Run <= 2560) makeup = (Run / 64) * 64;
            const int index = makeup <= 1728 ? PxCCITTMakeupCodes + static_cast<int>(makeup / 64) - 1
                                             : PxCCITTExtMakeupCodes + static_cast<int>((makeup - 1792) / 64);
            PutCode(codes[index]);
            Run -= makeup;
        }
        PutCode(codes[Run]);
    }

    // Writes the whole bytes; with Pad the partial byte too (its free bits
    // zero), else it becomes the pending byte.
    void Flush(classlib::TStream* Stream, bool& Aborting, bool Pad, int32_t& PendingBits, uint8_t& PendingByte)
    {
        const int64_t whole = Pad ? static_cast<int64_t>(bytes_.size()) : (bits_ >> 3);
        if (whole > 0) PxSafeStreamWrite(Stream, Aborting, bytes_.data(), whole);
        if (Pad) {
            PendingBits = 0;
            PendingByte = 0;
        } else {
            PendingBits = static_cast<int32_t>(bits_ & 7);
            PendingByte = PendingBits > 0 ? bytes_[static_cast<size_t>(whole)] : 0;
        }
    }

private:
    int32_t fillOrder_;
    std::vector<uint8_t> bytes_;
    int64_t bits_ = 0;
};

// Encoder rows: 1 for black.
constexpr int kEncWhite = 0;

void EncodeRow1D(TBitSink& Sink, const uint8_t* Row, int64_t Width)
{
    int64_t x = 0;
    bool black = false;
    while (x < Width) {
        const int64_t next = FindBit(Row, x, Width, black ? kEncWhite : 1 - kEncWhite);
        Sink.PutRun(next - x, black);
        x = next;
        black = !black;
    }
}

void EncodeRow2D(TBitSink& Sink, const uint8_t* Row, const uint8_t* Ref, int64_t Width)
{
    static const int kVertical[7] = {mdVL3, mdVL2, mdVL1, mdV0, mdVR1, mdVR2, mdVR3};
    int64_t a0 = -1;
    bool black = false;
    while (a0 < Width) {
        const int colourBit = black ? 1 - kEncWhite : kEncWhite;
        const int64_t x0 = std::max<int64_t>(a0, 0);
        const int64_t a1 = FindBit(Row, x0, Width, 1 - colourBit);
        int64_t b1 = 0, b2 = 0;
        FindB(Ref, a0, black, Width, kEncWhite, b1, b2);
        if (b2 < a1) {
            Sink.Put(kModeCodes[mdPass].Value, kModeCodes[mdPass].Length);
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            const TModeCode& code = kModeCodes[kVertical[a1 - b1 + 3]];
            Sink.Put(code.Value, code.Length);
            a0 = a1;
            black = !black;
        } else {
            const int64_t a2 = FindBit(Row, a1, Width, colourBit);
            Sink.Put(kModeCodes[mdHorizontal].Value, kModeCodes[mdHorizontal].Length);
            Sink.PutRun(a1 - x0, black);
            Sink.PutRun(a2 - a1, !black);
            a0 = a2;
        }
    }
}

size_t ReferenceBytes(int32_t Width) { return (static_cast<size_t>(Width) + 31) / 32 * 4; }

void KeepAsReference(std::vector<uint8_t>& RefRow, const uint8_t* Row, int32_t Width)
{
    RefRow.assign(ReferenceBytes(Width), 0);
    std::memcpy(RefRow.data(), Row, (static_cast<size_t>(Width) + 7) / 8);
}

}  // namespace

void PxEncodeMHRow(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder, bool& Aborting)
{
    if (Row == nullptr || Width <= 0) return;
    TBitSink sink(FillOrder, 0, 0);
    EncodeRow1D(sink, Row, Width);
    int32_t pendingBits = 0;
    uint8_t pendingByte = 0;
    sink.Flush(Stream, Aborting, true, pendingBits, pendingByte);
}

void PxEncodeG3Row1D(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                     bool& Aborting, int32_t& PendingBits, uint8_t& PendingByte)
{
    TBitSink sink(FillOrder, PendingBits, PendingByte);
    if (Row == nullptr) {
        sink.Flush(Stream, Aborting, true, PendingBits, PendingByte);
        return;
    }
    if (Width > 0) EncodeRow1D(sink, Row, Width);
    sink.Flush(Stream, Aborting, false, PendingBits, PendingByte);
}

void PxEncodeG3Row2D(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                     bool& Aborting, std::vector<uint8_t>& RefRow, int32_t& PendingBits, uint8_t& PendingByte)
{
    TBitSink sink(FillOrder, PendingBits, PendingByte);
    if (Row == nullptr) {
        sink.PutEOL();
        std::vector<uint8_t>().swap(RefRow);
        sink.Flush(Stream, Aborting, true, PendingBits, PendingByte);
        return;
    }
    if (Width <= 0) return;
    sink.PutEOL();
    if (RefRow.size() < ReferenceBytes(Width)) {
        sink.Put(1, 1);
        EncodeRow1D(sink, Row, Width);
    } else {
        sink.Put(0, 1);
        EncodeRow2D(sink, Row, RefRow.data(), Width);
    }
    KeepAsReference(RefRow, Row, Width);
    sink.Flush(Stream, Aborting, false, PendingBits, PendingByte);
}

void PxEncodeG4Row(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                   bool& Aborting, std::vector<uint8_t>& RefRow, int32_t& PendingBits, uint8_t& PendingByte)
{
    TBitSink sink(FillOrder, PendingBits, PendingByte);
    if (Row == nullptr) {
        sink.PutEOL();
        sink.PutEOL();
        std::vector<uint8_t>().swap(RefRow);
        sink.Flush(Stream, Aborting, true, PendingBits, PendingByte);
        return;
    }
    if (Width <= 0) return;
    if (RefRow.size() < ReferenceBytes(Width)) RefRow.assign(ReferenceBytes(Width), 0);
    EncodeRow2D(sink, Row, RefRow.data(), Width);
    KeepAsReference(RefRow, Row, Width);
    sink.Flush(Stream, Aborting, false, PendingBits, PendingByte);
}

void PxInstallCCITT()
{
    PxRegisterStartup(psCCITT, PxInitializeCCITT, PxFinalizeCCITT);
}

}  // namespace imaging
