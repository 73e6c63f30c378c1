// Every error the image unit records (code, message, line) and every line
// it prints (loading, reads, effects, decoding), in one table.
#pragma once

#include "host/diagnostics.h"

#define VEK_IMAGE_ERRORS(X)                                                   \
  X(kFileNotFound, kErrArgument, "VekCreateImage: file not found, ", 377)     \
  X(kNullFile, kErrArgument, "VekCreateImage: file is NULL", 385)             \
  X(kNoDevice, kErrArgument, "VekCreateImage: no current device", 390)        \
  X(kEmptyFile, kErrArgument, "VekCreateImage: empty file", 401)              \
  X(kMallocBytes, kErrAllocation, "VekCreateImage: malloc fail", 406)         \
  X(kOpenFile, kErrArgument, "VekCreateImage: RaskOpenFile fail", 411)        \
  X(kReadFile, kErrArgument, "VekCreateImage: RaskReadFile fail", 418)        \
  X(kMallocRecord, kErrAllocation, "VekCreateImage: malloc fail", 427)        \
  X(kInvalidData, kErrArgument, "VekCreateImage: invalid image data", 437)    \
  X(kDestroyNull, kErrArgument, "VekDestroyImage: hImage is NULL", 451)       \
  X(kLockColor, kErrLockOrCaps, "font->tex->LockRect fail", 524)              \
  X(kLockData, kErrLockOrCaps, "font->tex->LockRect fail", 611)               \
  X(kPitch, kErrLockOrCaps, "VekGetImageData:  w > pitch\n", 619)             \
  X(kMallocData, kErrAllocation, "VekGetImageData: Malloc fail", 627)         \
  X(kSaveNull, kErrArgument, "VekSaveImage: hImage is NULL", 661)             \
  X(kSave, kErrDirect3D, "D3DXSaveTextureToFileW fail", 666)                  \
  X(kGrayNull, kErrArgument, "VekGrayImage: hImage is NULL", 341)             \
  X(kGrayTexture, kErrArgument, "VekGrayImage: texture exists", 342)          \
  X(kGrayNoData, kErrArgument, "VekGrayImage: no data", 342)                  \
  X(kBrightNull, kErrArgument, "VekBrightImage: hImage is NULL", 348)         \
  X(kBrightTexture, kErrArgument, "VekBrightImage: texture exists", 349)      \
  X(kBrightNoData, kErrArgument, "VekBrightImage: no data", 349)              \
  X(kHueDegrees, kErrArgument, "VekHueImage: degrees out of range", 357)      \
  X(kHueNull, kErrArgument, "VekHueImage: hImage is NULL", 360)               \
  X(kHueTexture, kErrArgument, "VekHueImage: texture exists", 361)            \
  X(kHueNoData, kErrArgument, "VekHueImage: no data", 361)                    \
  X(kConvertNull, kErrArgument, "VekConvertRGBImage: hImage is NULL", 368)    \
  X(kConvertType, kErrArgument, "VekConvertRGBImage: type out of range", 371) \
  X(kConvertTexture, kErrArgument, "VekConvertRGBImage: texture exists", 373) \
  X(kConvertNoData, kErrArgument, "VekConvertRGBImage: no data", 373)

#define VEK_IMAGE_LINES(X)                                                                   \
  X(kPadFailed,                                                                              \
    "ExtendToPow2_DXT() failed: \xC3\xBB\xD3\xD0\xD7\xE3\xB9\xBB\xB5\xC4\xBF\xD5\xBC\xE4\n") \
  X(kNullFile, "CDEBUG: \xCE\xC4\xBC\xFE\xD6\xB8\xD5\xEB\xCE\xDE\xD0\xA7 \n")                \
  X(kNoDevice, "CDEBUG: \xC9\xE8\xB1\xB8\xD6\xB8\xD5\xEB\xCE\xDE\xD0\xA7 \n")                \
  X(kMallocRecord, "CDEBUG: VekCreateImage fail, malloc fail ")                              \
  X(kInvalidData, "CDEBUG: VekCreateImage fail, invalid image data ")                        \
  X(kColorFormat, "GetColorFromTex End: invalid image format\n")                             \
  X(kColorLock, "GetColorFromTex End : t->tex->LockRect(0,&lockedRect,&rect,0); !\n")        \
  X(kColorNoData,                                                                            \
    "VekGetImageColor End : \xC3\xBB\xCE\xC6\xC0\xED\xA1\xA2\xC3\xBB\xCA\xFD\xBE\xDD !\n")   \
  X(kColorNull, "VekGetImageColor End : hImage == NULL !\n")                                 \
  X(kColorOutside, "VekGetImageColor End : x>t->width||y>t->height !\n")                     \
  X(kDataNull, "VekGetImageData End : hImage == NULL !\n")                                   \
  X(kDataEmpty, "VekGetImageData End : x1>=x2||y1>=y2 !\n")                                  \
  X(kDataNoOut, "VekGetImageData End : out == NULL !\n")                                     \
  X(kDataReleased, "CDEBUG: VekGetImageData, texture released, %p \n")                       \
  X(kDataFailed, "CDEBUG: VekGetImageData fail tex=%p error=%d \n")                          \
  X(kDataFormat, "VekGetImageData End : t->format != D3DFMT_A8R8G8B8\n")                     \
  X(kDataLock, "VekGetImageData End : t->tex->LockRect(0,&lockedRect,&rect,0); !\n")         \
  X(kDataPitch, "VekGetImageData :  w > pitch\n")                                            \
  X(kDataMalloc, "VekGetImageData End : Malloc fail\n")                                      \
  X(kGrayNull, "VekGrayImage End: hImage==NULL \n")                                          \
  X(kGrayTexture, "VekGrayImage End : t->tex is exist now!\n")                               \
  X(kGrayNoData, "VekGrayImage End : t->data is NULL !\n")                                   \
  X(kBrightNull, "VekBrightImage End : hImage == NULL! \n")                                  \
  X(kBrightTexture, "VekBrightImage End : t->tex is exist now!\n")                           \
  X(kBrightNoData, "VekBrightImage End : t->data is NULL !\n")                               \
  X(kHueDegrees, "VekHueImage End, Invalid param: %d\n")                                     \
  X(kHueNull, "VekHueImage End : hImage == NULL !\n")                                        \
  X(kHueTexture, "VekHueImage End : t->tex is exist now!\n")                                 \
  X(kHueNoData, "VekHueImage End : t->data is NULL !\n")                                     \
  X(kConvertNull, "VekConvertRGBImage End : hImage == NULL!\n")                              \
  X(kConvertType, "VekConvertRGBImage End : type < 0 || type > 5 !\n")                       \
  X(kConvertTexture, "VekConvertRGBImage End : t->tex is exist now!\n")                      \
  X(kConvertNoData, "VekConvertRGBImage End : t->data is NULL !\n")                          \
  X(kOpenMemory,                                                                             \
    "HueImage_OtherFormat End: FreeImage_OpenMemory\xB5\xF7\xD3\xC3 \xB3\xF6\xB4\xED\n")     \
  X(kCloseMemory, "HueImage_OtherFormat End: FreeImage_CloseMemory\n")                       \
  X(kGetBits, "HueImage_OtherFormat End: FreeImage_GetBits\n")                               \
  X(kMallocFile, "HueImage_OtherFormat End: (unsigned char*)Malloc(length) \xB3\xF6\xB4\xED\n")

VEK_DIAGNOSTICS_ERRORS(Image, VEK_IMAGE_ERRORS, VEK_SRC_VEKIMAGE)
VEK_DIAGNOSTICS_LINES(Image, VEK_IMAGE_LINES)
