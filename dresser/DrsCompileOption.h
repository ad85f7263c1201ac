#pragma once
// Options of one script compile, passed by pointer (null: all zero).

#include <cstdint>

struct DrsCompileOption {
    uint32_t reserved;     // not read
    int32_t fixedShift;    // real constants: 0 float, else fixed point with this many fraction bits
    uint32_t debug;        // non-zero: line markers and the debug chunk
    uint32_t warningFlags; // DRS_WARNING_* bits
};

enum : uint32_t {
    // An assignment inside an if or switch condition is a warning, not an error.
    DRS_WARNING_ASSIGN_IN_CONDITION = 0x0001,
};
