#pragma once

// What the PDF worker processes and the program say to each other over
// their socket. Both ends are built together, so the layout is plain
// native structs. Every message is a Frame header and its payload; a
// request carries the open file as SCM_RIGHTS with its first byte.

#include <cstdint>

namespace tallivo::pdfworker {

inline constexpr std::uint32_t kMagic = 0x544c5044; // "TLPD"

enum class FrameType : std::uint32_t
{
    Request = 1,     // program -> worker: count the file passed along
    Result = 2,      // worker -> program: the answer for the file
    OutOfMemory = 3, // worker -> program: an allocation failed on this file
    Colours = 4,     // worker -> program: the colour classes of the pages last asked for
    Pages = 5,       // program -> worker: decide these pages' colours; none: the file is done
};

enum RequestFlags : std::uint32_t
{
    WantBoxes = 1,  // also each page's visible box
    WantColour = 2, // also each page's colour class (implies a record per page)
    ColourOnly = 4, // with WantColour: only the colours, for a file another worker counted
};

// What the PDF library made of a file.
enum class Outcome : std::int32_t
{
    Counted = 0,
    Locked = 1,  // needs a password
    Damaged = 2, // no document, or no pages
};

struct Frame
{
    std::uint32_t magic = kMagic;
    FrameType type = FrameType::Result;
    std::uint32_t length = 0; // payload bytes after this header
};

struct Request
{
    std::int64_t size = 0; // the file's size when it was opened
    std::uint32_t flags = 0;
    double colourMinArea = 0; // WantColour: the colour tolerance in mm^2; 0: the default
};

// The count and the page boxes go first, before the colour pass, so that a
// colour pass cut short by a limit costs the colours and never the count.
struct Result
{
    std::int32_t pages = 0;
    Outcome outcome = Outcome::Damaged;
    std::uint32_t boxCount = 0;      // PageBox records that follow
    std::uint32_t coloursFollow = 0; // 1: a Colours frame comes next
};

// A page's visible size in millimetres, 0 x 0 when unknown.
struct PageBox
{
    float widthMm = 0;
    float heightMm = 0;
};

// After a Result with coloursFollow the worker waits for PageRange
// messages: for each non-empty one it answers with a Colours frame of that
// many pages; an empty one ends the file. A large file's pages are so
// shared among several workers, each opening the file once.
struct PageRange
{
    std::uint32_t first = 0;
    std::uint32_t end = 0;
};

struct Colours
{
    std::uint32_t count = 0; // colour classes (ColourClass values, uint32) that follow
    // Of the colour classes: pages decided from their operators, pages
    // rendered.
    std::uint32_t scanned = 0;
    std::uint32_t rendered = 0;
};

// The socket is the worker's file descriptor 3.
inline constexpr int kSocketFd = 3;

} // namespace tallivo::pdfworker
