#pragma once
// Logs of the socket transport.
//
// Progress lines ("接続中：host:port", "接続", "切断", ...) go to one GUI
// logger shared by all socket classes of the process: a function taking the
// line as a CvString (Shift_JIS), installed by the application; there is none
// by default. Failures go through the kit's log print; a failing socket call
// hands its error number to AstSockPrintError, which prints the number's
// line of the diagnostic table.

#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <cstdint>

typedef void (*AstSockGUILogger)(const CvString& line);

// Installs the GUI logger (null: none); returns the previous one.
LUMIVOR_EXPORT AstSockGUILogger AstSockSetGUILogger(AstSockGUILogger logger);
LUMIVOR_EXPORT AstSockGUILogger AstSockGetGUILogger();
// Hands a line to the GUI logger (printf-style): the format is given in UTF-8
// and converted to Shift_JIS, the arguments are taken as they are.
LUMIVOR_EXPORT void AstSockGUILog(const char* utf8Format, ...) __attribute__((format(printf, 1, 2)));

// The diagnostic line of a socket error number (symbolic name, English gloss,
// Japanese explanation, newline; "不明なエラーコード[%d]" for numbers outside
// the table), in Shift_JIS.
LUMIVOR_EXPORT CvString AstSockErrorText(int32_t code);
// Prints AstSockErrorText(code) through the kit's log print.
LUMIVOR_EXPORT void AstSockPrintError(int32_t code);
// The same for the kit's log print.
LUMIVOR_EXPORT void AstSockLogPrint(const char* utf8Format, ...) __attribute__((format(printf, 1, 2)));
// Prints a UTF-8 text as it is (no formatting), in Shift_JIS.
LUMIVOR_EXPORT void AstSockLogText(const char* utf8);
