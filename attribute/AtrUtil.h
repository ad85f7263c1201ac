#pragma once
// One-call helpers that read and write attribute trees as files: attribute
// text (AtrParser), template-free binary images (AtrConverter) and compiled
// images (AtrCompiler), without handling those objects.
//
// Every path first goes through AtrUtilExtractEnvName; files are read and
// written through the kit's file layer (CvkFile). Failures give null or 0;
// temporary objects and buffers are freed on every path. The caller owns
// every tree returned and destroys it with AtrNode::Destroy (a text with
// several top-level nodes comes back as a sibling chain: AtrNodeDestroyChain).

#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrDefAnalyzer;
class AtrNode;

// "%NAME%rest": the rest resolved against the value of the environment
// variable NAME (see AtrFileUtil::MakeFullName). A path without a leading
// '%' and a path naming an unset variable come back unchanged; a missing
// closing '%' gives an empty text.
LUMIVOR_EXPORT CvString AtrUtilExtractEnvName(const char* path);

// Reads an attribute text file. `constants`, when given, is handed to the
// parser's AddConstantDefinition first (a definition file of named
// constants). On failure `errorLog`, when given, receives the parser's log.
LUMIVOR_EXPORT AtrNode* AtrUtilCreateFromText(const char* path, const char* constants = nullptr,
                                              CvString* errorLog = nullptr);
// The same with the named constants `constants` already holds (the
// definitions of any number of headers); the analyzer is lent, not owned.
LUMIVOR_EXPORT AtrNode* AtrUtilCreateFromText(const char* path, AtrDefAnalyzer& constants,
                                              CvString* errorLog = nullptr);
// The same for a NUL-terminated text in memory.
LUMIVOR_EXPORT AtrNode* AtrUtilCreateFromTextBuffer(const char* text, const char* constants = nullptr);
// Writes `tree` and its following siblings as attribute text (unquoted);
// 1 when written whole, 0 for a null tree or path or a failed write.
LUMIVOR_EXPORT int32_t AtrUtilOutputText(AtrNode* tree, const char* path);

// Reads a converter image file. `size`, when given, receives the file's size
// on success and 0 on failure. An empty, missing or malformed file gives null.
LUMIVOR_EXPORT AtrNode* AtrUtilCreateFromBinary(const char* path, uint32_t* size = nullptr);
// AtrConverter::GetBinaryWorkSize(tree), or 0 when no converter can be made.
LUMIVOR_EXPORT uint32_t AtrUtilGetBinaryWorkSize(AtrNode* tree);
// Writes the converter image of `tree` (AtrConverter::CreateBinary with
// these arguments); 1 when written whole.
LUMIVOR_EXPORT int32_t AtrUtilOutputBinary(AtrNode* tree, const char* path, int32_t scramble = 0,
                                           void* work = nullptr, uint32_t workSize = 0);
// Compiles `instance` with `templ` (AtrCompiler, alignment 32) and writes the
// image; `tag`, when given, replaces the first chunk's tag (most significant
// byte first). When compiling fails, `errorLog` (when given) receives the
// compiler's log. 1 when the image was written.
LUMIVOR_EXPORT int32_t AtrUtilOutputStyledBinary(AtrNode* instance, AtrNode* templ, const char* path,
                                                 const uint32_t* tag = nullptr, CvString* errorLog = nullptr,
                                                 int32_t scramble = 0);
// Descrambles a chunk in place when its codecFlags bit 0 is set (key in its
// code) and clears the bit. The caller vouches for the chunk's size field.
LUMIVOR_EXPORT void AtrUtilCodecDecode(void* chunk);
