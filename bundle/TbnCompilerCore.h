#pragma once
// TbnCompileTexts: the body of TbnCompilerOutput, inside the library and for
// the front end, which links it statically. The shared library exports
// TbnCompilerOutput alone.
//
// `textsRead`, when not null, is called with `context` once both texts are
// read into trees and no longer used, so that a caller that owns the texts
// can free them before the image is built (lumivor bundle does, to lower its
// peak memory). Result and log as TbnCompilerOutput; on a bad argument
// `textsRead` is not called.

#include <cstdint>

uint8_t TbnCompileTexts(const char* outputPath, const char* instanceText, const char* templateText, uint32_t code,
                        void (*textsRead)(void* context), void* context);
