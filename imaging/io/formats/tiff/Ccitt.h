// The CCITT fax codec of the toolkit: run-length coding of bi-level rows as
// in ITU-T T.4 (Group 3, one- and two-dimensional) and T.6 (Group 4). The
// TIFF reader decodes its strips row by row through the decoders; the TIFF,
// PostScript and PDF writers code their rows through the row encoders.
//
// Bit rows: most significant bit first within each byte; pixel i is bit
// (7 - i mod 8) of byte i div 8.
// - Decoded rows hold 1 for white and 0 for black (a row starts all 1 and
//   the black runs are cleared).
// - Rows given to the encoders hold 0 for white and 1 for black.
//
// Fill order (TIFF tag 266): 1 takes the bits of each data byte from the
// most significant one, 2 from the least significant one.
//
// Failure: the decoders never read outside Data[0 .. Size) (bits past the
// end read as 0 and a code looked up there reads as an end of line) and
// never write outside the row they are given (runs, passes and vertical
// positions are clipped to the width). Damaged data therefore decodes to
// some row, never to a crash; a caller detects a truncated strip by a
// returned bit position at or past Size * 8.
//
// Start-up: the decode trees are built by PxInitializeCCITT, which the
// toolkit's start-up runs from its CCITT slot (this unit registers itself),
// and freed by PxFinalizeCCITT at shut-down. A decoder called while the
// trees do not exist builds them first, so the codec also works in code that
// never ran the toolkit's start-up.
//
// Threads: the trees are read-only between start-up and shut-down; any
// number of threads may decode at once. Encoder state belongs to the caller
// and is not shared.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"

namespace imaging {

// ---- start-up

// Builds both decode trees (nothing when they exist).
void PxInitializeCCITT();
// Frees both decode trees.
void PxFinalizeCCITT();
// Registers the start-up and shut-down above in the toolkit start-up
// (also done by static initialisation when this unit is linked).
void PxInstallCCITT();
// Builds the white and the black decode tree from the code table.
void PxCCITTBuildTrees();

// ---- code table

// One code of the table: its length in bits, its value (the bits in the low
// end, most significant first) and its run (>= 0 a run of pixels, -1 bits to
// ignore, -3 an end of line).
struct TPxCCITTCode {
    uint8_t Length;
    uint32_t Value;
    int32_t Run;
};

// Index ranges of a colour's 128 codes.
constexpr int PxCCITTTermCodes = 0;       // 0..63: terminating codes, runs 0..63
constexpr int PxCCITTMakeupCodes = 64;    // 64..90: make-up codes, runs 64..1728
constexpr int PxCCITTExtMakeupCodes = 91;  // 91..103: make-up codes, runs 1792..2560
constexpr int PxCCITTEOLCode = 104;       // 12-bit end of line
constexpr int PxCCITTCodeNotFound = 128;  // result of a lookup that found no code

// The table: PxCCITTCodes[0] white, [1] black.
extern const TPxCCITTCode PxCCITTCodes[2][128];

// The index of the code of colour Black at bit BitPos of Data (Size bytes):
// 127 (an end of line) when BitPos lies past the data; PxCCITTCodeNotFound
// when 32 bits lead to no code.
int PxCCITTDecodeCode(const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t BitPos, bool Black);

// ---- decoders
//
// Row must hold (Width + 7) div 8 bytes; RefRow of the two-dimensional
// decoder as many (it holds the previous decoded row, all 1 (white) before
// the first row of a strip). Width must be at least 1. BitPos counts bits
// from Data[0].

// One row coded one-dimensionally from BitPos. Returns the bit position after
// the row's last code.
int64_t PxCCITTDecodeRow1D(uint8_t* Row, const uint8_t* Data, int64_t Size, int32_t FillOrder, int64_t BitPos,
                           int32_t Width);

// One Modified Huffman row (TIFF compression 2) from bit 0 of Data. Returns
// the number of bytes the row used (its bits rounded up to whole bytes); the
// caller moves Data on by that much for the next row.
int64_t PxCCITTDecodeRowMH(uint8_t* Row, const uint8_t* Data, int64_t Size, int32_t FillOrder, int32_t Width);

// The changing elements of the previous row as its codes placed them, in
// increasing order: even entries start a black run, odd ones end it. Unlike
// the bit row they keep runs of length 0 (a horizontal code of a white and
// a black run of 0 at the start of a row), which coders count as changing
// elements of the reference row for the row that follows. Empty and not
// Known before the first row of a strip.
struct TPxCCITTChanges {
    std::vector<int32_t> Positions;
    bool Known = false;
};

// One row of Group 3 two-dimensional or Group 4 data from BitPos against
// RefRow. EOLScan: 12 zero bits start an end of line (zero fill before an
// end of line is skipped); Group 3 data, whose rows begin with an end of
// line and a tag bit (1: the row is coded one-dimensionally), pass true.
// Changes: the strip's changing elements, carried from row to row by the
// caller (nullptr, or not Known: they are taken from RefRow, which loses
// runs of length 0). Returns the bit position after the row; the decoded
// row is also copied into RefRow and its changing elements into Changes.
int64_t PxCCITTDecodeRow2D(uint8_t* Row, const uint8_t* Data, int64_t Size, bool EOLScan, int32_t FillOrder,
                           int64_t BitPos, uint8_t* RefRow, int32_t Width, TPxCCITTChanges* Changes = nullptr);

// ---- encoders
//
// Row: (Width + 7) div 8 bytes, 1 for black; nullptr ends the strip. The
// codes are written in whole bytes through PxSafeStreamWrite, which sets
// Aborting when the stream takes fewer bytes than given.
//
// Encoder state of a strip (owned by the caller, empty at the start of each
// strip and left empty by the nullptr call that ends it): PendingBits (0..7)
// bits of a partial byte in PendingByte, placed as the fill order places
// them; and for two-dimensional coding the reference row RefRow (the
// previous row, ((Width + 31) div 32) * 4 bytes; empty before the first row).

// Modified Huffman: one-dimensional codes, no end of line, every row padded
// with zero bits to a byte boundary. A nullptr row writes nothing.
void PxEncodeMHRow(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                   bool& Aborting);

// Group 3 one-dimensional without ends of line: the bits of one row go on
// in the next. A nullptr row pads the pending bits with zero bits and writes
// them.
void PxEncodeG3Row1D(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                     bool& Aborting, int32_t& PendingBits, uint8_t& PendingByte);

// Group 3 two-dimensional: the first row of a strip as an end of line, tag
// bit 1 and one-dimensional codes; later rows as an end of line, tag bit 0
// and two-dimensional codes against the previous row. A nullptr row writes a
// last end of line and the padded pending bits and frees RefRow.
void PxEncodeG3Row2D(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                     bool& Aborting, std::vector<uint8_t>& RefRow, int32_t& PendingBits, uint8_t& PendingByte);

// Group 4: every row two-dimensionally against the previous one (an all
// white row before the first). A nullptr row writes two ends of line and
// the padded pending bits and frees RefRow.
void PxEncodeG4Row(const uint8_t* Row, int32_t Width, classlib::TStream* Stream, int32_t FillOrder,
                   bool& Aborting, std::vector<uint8_t>& RefRow, int32_t& PendingBits, uint8_t& PendingByte);

}  // namespace imaging
