#pragma once
// The compiled script image that the embedded runtime loads.
//
// An image is a chain of chunks: "DSCR" (the script data), an optional
// "DDBG" (names and sizes of the variables, for a debugger) and "EOFC". The
// 32-byte chunk headers are in the writer's order; everything inside them
// follows the kit's endian target. Inside "DSCR", each part below starts on a
// DRS_SCRIPT_ALIGN boundary counted from the start of the image (zero bytes
// pad the gaps), except that the module names follow the module table
// directly:
//   script header (DrsScriptHeader)
//   module table: per module u32 code position, u16 frame slots, u16 0
//   module names, each with its NUL
//   constants: u32 each (integers, floats, fixed-point, jump targets)
//   strings: u32 start offset each (from the start of the string data), then
//            the string data
//   global initializers: three u16 words each (slot, kind 31..35, value)
//   code: u16 words up to the end of the chunk's data
//
// Word code: every word is 16-bit; expressions are postfix. Operators and
// operand kinds use the numbers of DRS_TOKEN_CODE (DrsToken.h); the words
// below exist only in code. Targets are constant indexes whose entry holds a
// word position in the code.

#include "dresser/CvkScriptDebugInfo.h"
#include "kit/CvChunk.h"

#include <cstdint>

constexpr unsigned CVK_CHUNK_TAG_DSCR = CvChunkMakeTag("DSCR");
constexpr unsigned CVK_CHUNK_TAG_DDBG = CvChunkMakeTag("DDBG");

constexpr uint32_t DRS_SCRIPT_VERSION = 2000;
constexpr uint32_t DRS_SCRIPT_ALIGN = 16;
// Bytes of the "DSCR" and "EOFC" chunk headers around the script data.
constexpr uint32_t DRS_SCRIPT_FRAME_SIZE = 2 * CVK_CHUNK_HEAD_SIZE;

// Operand of the structured jump word (DRS_TOKEN_JUMP).
enum DRS_JUMP_KIND : uint16_t {
    DRS_JUMP_IF_END = 1,      // leave the if part: go to the if's end
    DRS_JUMP_LOOP_START = 2,  // back to the start of the innermost loop
    DRS_JUMP_LOOP_END = 3,    // leave the innermost loop
    DRS_JUMP_SWITCH_END = 4,  // leave the innermost switch
};

// The script header at the start of the "DSCR" data (36 bytes).
struct DrsScriptHeader {
    uint8_t reserved[16];
    uint32_t version;          // DRS_SCRIPT_VERSION
    uint32_t stringDataSize;   // bytes of string data (not the offsets)
    uint16_t moduleCount;
    uint16_t globalSlotCount;
    uint16_t constantCount;
    uint16_t stringCount;
    uint16_t initializerCount; // entries of three words
    uint16_t alignment;        // DRS_SCRIPT_ALIGN
};
static_assert(sizeof(DrsScriptHeader) == 36, "the script header is 36 bytes");

// Bytes of one module table entry and of the debug chunk's fixed part (the
// name, the counts of position entries and of path bytes, 8 reserved bytes).
constexpr uint32_t DRS_SCRIPT_MODULE_ENTRY_SIZE = 8;
constexpr uint32_t DRS_DEBUG_FIXED_SIZE = CVK_SCRIPT_DEBUG_NAME_SIZE + 4 + 4 + 8;

// The smallest multiple of DRS_SCRIPT_ALIGN at or above n.
constexpr uint32_t DrsScriptAlign(uint32_t n)
{
    return (n + DRS_SCRIPT_ALIGN - 1) & ~(DRS_SCRIPT_ALIGN - 1);
}
