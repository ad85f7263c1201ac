#pragma once
// C interface of the palreduce colour reduction library.
//
// Open a handle, copy images (and optionally a palette) into it, set options,
// reduce once, read the results by index and close the handle. Every result
// buffer belongs to the handle until it is closed. Every call returns 0 or a
// null pointer on failure.
#include <stdint.h>

#include "platform/PlatformExport.h"

#ifdef __cplusplus
extern "C" {
#endif

// Input image types.
#define RDQ_IMAGE_RGB 200u   // R, G, B
#define RDQ_IMAGE_RGBA 201u  // R, G, B, A
// Output image types.
#define RDQ_IMAGE_INDEX8 100u
#define RDQ_IMAGE_565 150u
#define RDQ_IMAGE_4444 151u
#define RDQ_IMAGE_1555 152u
// Palette types.
#define RDQ_PALETTE_RGB 300u
#define RDQ_PALETTE_565 301u
// Reduction codes.
#define RDQ_REDUCE_565 400u
#define RDQ_REDUCE_4444 401u
#define RDQ_REDUCE_1555 402u
#define RDQ_REDUCE_PALETTE 403u
#define RDQ_REDUCE_PALETTE565 404u
// Options.
#define RDQ_OPTION_COLORS 100u
#define RDQ_OPTION_TRANSPARENT 101u
#define RDQ_OPTION_RESERVE 102u
#define RDQ_OPTION_DITHER 103u
#define RDQ_OPTION_LEVEL 104u
#define RDQ_OPTION_ALPHA_DITHER 105u
#define RDQ_OPTION_ALPHA_LEVEL 106u
// Quality of the reductions; an extension beside the options above, default
// RDQ_QUALITY_COMPATIBLE.
//   RDQ_QUALITY_COMPATIBLE  the reduction as it has always been, byte for
//                           byte.
//   RDQ_QUALITY_BEST        the best palette we know: when the counted
//                           colours fit the free entries, exactly those
//                           colours (lossless); otherwise the computed
//                           palette refined by Lloyd iterations over the
//                           exact colours (reserved and caller entries
//                           stay), pixels mapped by R, G, B distance, and
//                           error diffusion that leaves flat areas and
//                           exact colours undisturbed. The direct 16-bit
//                           reductions (400 to 402) keep their rounding and
//                           get the same error diffusion. Deterministic,
//                           the same bytes in every build.
#define RDQ_OPTION_QUALITY 1000u
#define RDQ_QUALITY_COMPATIBLE 0u
#define RDQ_QUALITY_BEST 1u

#define RDQ_MAX_IMAGES 200u
#define RDQ_MAX_SIZE 1280u

LUMIVOR_EXPORT void* LUMIVOR_STDCALL rdqOpenHandle(void);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqCloseHandle(void* h);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetImage(void* h, uint32_t type, uint32_t index, const void* data,
                                                    uint32_t width, uint32_t height);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetPalette(void* h, uint32_t type, const void* data, uint32_t count);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetOption(void* h, uint32_t id, uint32_t value);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqReduce(void* h, uint32_t code);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageCount(void* h);
LUMIVOR_EXPORT const void* LUMIVOR_STDCALL rdqGetImage(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageWidth(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageHeight(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageType(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageDataSize(void* h, uint32_t index);
LUMIVOR_EXPORT const void* LUMIVOR_STDCALL rdqGetPalette(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteCount(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteType(void* h, uint32_t index);
LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteDataSize(void* h, uint32_t index);

#ifdef __cplusplus
}
#endif
