// GDI names for the POSIX build, with Windows' layouts and values: the DC and
// object model, fonts (over FreeType and fontconfig in libvekrt) and capture
// of the virtual desktop. Included by <windows.h>; not meant to be included
// on its own.
#pragma once

typedef struct _FIXED {
  WORD fract;
  short value;
} FIXED;

typedef struct _MAT2 {
  FIXED eM11;
  FIXED eM12;
  FIXED eM21;
  FIXED eM22;
} MAT2, *LPMAT2;

typedef struct _GLYPHMETRICS {
  UINT gmBlackBoxX;
  UINT gmBlackBoxY;
  POINT gmptGlyphOrigin;
  short gmCellIncX;
  short gmCellIncY;
} GLYPHMETRICS, *LPGLYPHMETRICS;

typedef struct tagTEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
} TEXTMETRICW, *LPTEXTMETRICW;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *LPBITMAP;

// FreeImage.h declares these three itself when it comes first (it checks
// _WINDOWS_, which <windows.h> defines); the layouts are the same.
#ifndef FREEIMAGE_H
typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER, *PBITMAPINFOHEADER;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO, *PBITMAPINFO;
#endif
typedef BITMAPINFOHEADER* LPBITMAPINFOHEADER;
typedef BITMAPINFO* LPBITMAPINFO;

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
} BITMAPFILEHEADER, *LPBITMAPFILEHEADER, *PBITMAPFILEHEADER;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(TEXTMETRICW) == 60, "TEXTMETRICW as on Windows");
static_assert(sizeof(GLYPHMETRICS) == 20, "GLYPHMETRICS as on Windows");
static_assert(sizeof(MAT2) == 16, "MAT2 as on Windows");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER as on Windows");
static_assert(sizeof(BITMAPINFO) == 44, "BITMAPINFO as on Windows");
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER as on Windows");
#endif

#define GDI_ERROR 0xFFFFFFFFu
#define HGDI_ERROR ((HANDLE)(LONG_PTR)-1)
#define CLR_INVALID 0xFFFFFFFFu

// GetGlyphOutline formats
#define GGO_METRICS 0
#define GGO_BITMAP 1
#define GGO_NATIVE 2
#define GGO_BEZIER 3
#define GGO_GRAY2_BITMAP 4
#define GGO_GRAY4_BITMAP 5
#define GGO_GRAY8_BITMAP 6
#define GGO_GLYPH_INDEX 0x0080
#define GGO_UNHINTED 0x0100

// Font weights
#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_EXTRALIGHT 200
#define FW_ULTRALIGHT 200
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_REGULAR 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_DEMIBOLD 600
#define FW_BOLD 700
#define FW_EXTRABOLD 800
#define FW_ULTRABOLD 800
#define FW_HEAVY 900
#define FW_BLACK 900

// Character sets
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SYMBOL_CHARSET 2
#define MAC_CHARSET 77
#define SHIFTJIS_CHARSET 128
#define HANGEUL_CHARSET 129
#define HANGUL_CHARSET 129
#define JOHAB_CHARSET 130
#define GB2312_CHARSET 134
#define CHINESEBIG5_CHARSET 136
#define GREEK_CHARSET 161
#define TURKISH_CHARSET 162
#define VIETNAMESE_CHARSET 163
#define HEBREW_CHARSET 177
#define ARABIC_CHARSET 178
#define BALTIC_CHARSET 186
#define RUSSIAN_CHARSET 204
#define THAI_CHARSET 222
#define EASTEUROPE_CHARSET 238
#define OEM_CHARSET 255

// Output precision
#define OUT_DEFAULT_PRECIS 0
#define OUT_STRING_PRECIS 1
#define OUT_CHARACTER_PRECIS 2
#define OUT_STROKE_PRECIS 3
#define OUT_TT_PRECIS 4
#define OUT_DEVICE_PRECIS 5
#define OUT_RASTER_PRECIS 6
#define OUT_TT_ONLY_PRECIS 7
#define OUT_OUTLINE_PRECIS 8
#define OUT_SCREEN_OUTLINE_PRECIS 9
#define OUT_PS_ONLY_PRECIS 10

// Clipping precision
#define CLIP_DEFAULT_PRECIS 0
#define CLIP_CHARACTER_PRECIS 1
#define CLIP_STROKE_PRECIS 2
#define CLIP_MASK 0x0f
#define CLIP_LH_ANGLES (1 << 4)
#define CLIP_TT_ALWAYS (2 << 4)
#define CLIP_DFA_DISABLE (4 << 4)
#define CLIP_EMBEDDED (8 << 4)

// Quality
#define DEFAULT_QUALITY 0
#define DRAFT_QUALITY 1
#define PROOF_QUALITY 2
#define NONANTIALIASED_QUALITY 3
#define ANTIALIASED_QUALITY 4
#define CLEARTYPE_QUALITY 5
#define CLEARTYPE_NATURAL_QUALITY 6

// Pitch and family
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define MONO_FONT 8
#define FF_DONTCARE (0 << 4)
#define FF_ROMAN (1 << 4)
#define FF_SWISS (2 << 4)
#define FF_MODERN (3 << 4)
#define FF_SCRIPT (4 << 4)
#define FF_DECORATIVE (5 << 4)

// TEXTMETRIC tmPitchAndFamily bits
#define TMPF_FIXED_PITCH 0x01
#define TMPF_VECTOR 0x02
#define TMPF_TRUETYPE 0x04
#define TMPF_DEVICE 0x08

// Object types (GetObjectType)
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

// GetSystemMetrics
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

// GetDeviceCaps
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90

// Raster operations
#define SRCCOPY 0x00CC0020u
#define CAPTUREBLT 0x40000000u

// DIB colour tables and compressions
#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1
#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3

#ifdef __cplusplus
extern "C" {
#endif
// Device contexts and objects
VEKRT_API HDC CreateCompatibleDC(HDC dc);
VEKRT_API BOOL DeleteDC(HDC dc);
VEKRT_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
VEKRT_API BOOL DeleteObject(HGDIOBJ object);
VEKRT_API int GetObjectW(HANDLE object, int size, LPVOID out);
VEKRT_API DWORD GetObjectType(HGDIOBJ object);
VEKRT_API int GetDeviceCaps(HDC dc, int index);

// Fonts
VEKRT_API HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight,
                            DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                            DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                            DWORD pitchAndFamily, LPCWSTR faceName);
VEKRT_API BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics);
VEKRT_API BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size);
VEKRT_API DWORD GetGlyphOutlineW(HDC dc, UINT ch, UINT format, LPGLYPHMETRICS metrics,
                                 DWORD bufferSize, LPVOID buffer, const MAT2* matrix);
VEKRT_API int AddFontResourceW(LPCWSTR path);
VEKRT_API BOOL RemoveFontResourceW(LPCWSTR path);

// The screen and bitmaps
VEKRT_API int GetSystemMetrics(int index);
VEKRT_API HDC GetDC(HWND window);
VEKRT_API int ReleaseDC(HWND window, HDC dc);
VEKRT_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
VEKRT_API BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                      int sourceY, DWORD rop);
VEKRT_API int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits,
                        LPBITMAPINFO info, UINT usage);
#ifdef __cplusplus
}
#endif
