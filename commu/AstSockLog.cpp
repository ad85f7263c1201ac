#include "commu/AstSockLog.h"

#include "kit/CvkLog.h"
#include "platform/PlatformCodePage.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

AstSockGUILogger g_guiLogger = nullptr;

// One row of the diagnostic table: the error number and its line (UTF-8,
// converted to Shift_JIS when printed).
struct ErrorRow {
    int32_t code;
    const char* line;
};

const ErrorRow kErrorTable[] = {
    {10004, "WSAEINTR Interrupted 関数呼び出しが中断された \n"},
    {10009, "WSAEBADF Bad File ファイルハンドルが不正 \n"},
    {10013, "WSAEACCESS Access Denied アクセスが拒否された \n"},
    {10014, "WSAEFAULT Bad Address アドレスが不正 \n"},
    {10022, "WSAEINVAL Invalid Argument 引数が不正 \n"},
    {10024, "WSAEMFILE Too Many Open Files 開いているソケットが多すぎる \n"},
    {10035, "WSAEWOULDBLOCK Would Block 処理がブロック中(同期処理が終わっていない)非ブロッキングモード（非同期）で動作しているときに発生し，ブロックモードであれば，ブロックされることを通知.  \n"},
    {10036, "WSAEINPROGRESS In Progress 処理が進行中 \n"},
    {10037, "WSAEALREADY Already 処理はすでに実行中 \n"},
    {10038, "WSAENOTSOCK Not Socket ソケットではない \n"},
    {10039, "WSAEDESTADDRREQ Destination Address Required 送信先アドレスが必要 \n"},
    {10040, "WSAEMSGSIZE Message Size メッセージが長すぎる \n"},
    {10041, "WSAEPROTOTYPE Protocol Type プロトコルの種類が不正 \n"},
    {10042, "WSAEPROTOOPT Protocol Option プロトコルのオプションが不正 \n"},
    {10043, "WSAEPROTONOSUPPORT Protocol Not Supported プロトコルがサポートされていない \n"},
    {10044, "WSAESOCKNOSUPPORT Socket Not Supported ソケットの種類がサポートされていない \n"},
    {10045, "WSAEOPNOTSUPP Operation Not Supported 操作がサポートされていない \n"},
    {10046, "WSAEPFNOSUPPORT Protocol Family Not Supported プロトコルファミリがサポートされていない \n"},
    {10047, "WSAEAFNOSUPPORT Address Family Not Supported アドレスファミリがサポートされていない \n"},
    {10048, "WSAEADDRINUSE Address In Use アドレスが使用中 \n"},
    {10049, "WSAEADDRNOTAVAIL Address Not Available アドレスが使用できない \n"},
    {10050, "WSAENETDOWN Network Down ネットワークがダウンしている \n"},
    {10051, "WSAENETUNREACH Network Unreachable ネットワークに到達できない \n"},
    {10052, "WSAENETRESET Network Reset ネットワークがリセットされた \n"},
    {10053, "WSAECONNABORTED Connection Aborted 接続が中止された \n"},
    {10054, "WSAECONNRESET Connection Reset 接続がリセットされた \n"},
    {10055, "WSAENOBUFS No Buffers バッファが足りない \n"},
    {10056, "WSAEISCONN Is Connected すでに接続されている \n"},
    {10057, "WSAENOTCONN Not Connected 接続されていない \n"},
    {10058, "WSAESHUTDOWN Shutdown ソケットはシャットダウンされている \n"},
    {10059, "WSAETOOMANYREFS Too Many References 参照が多すぎる \n"},
    {10060, "WSAETIMEDOOUT Timed Out 時間切れ \n"},
    {10061, "WSAECONNREFUSED Connection Refused 接続拒否 \n"},
    {10062, "WSAELOOP Loop 名前の参照がループしている \n"},
    {10063, "WSAENAMETOOLONG Name Too Long 名前が長すぎる \n"},
    {10064, "WSAEHOSTDOWN Host Down ホストがダウンしている \n"},
    {10065, "WSAEHOSTUNREACH Host Unreachable ホストに到達できない \n"},
    {10066, "WSAENOTEMPTY Not Empty ディレクトリが空ではない \n"},
    {10067, "WSAEPROCLIM Process Limit プロセスが多すぎる \n"},
    {10068, "WSAEUSERS Users ユーザーが多すぎる \n"},
    {10069, "WSAEDQUOT Disk Quota ディスクの割り当てを超えた \n"},
    {10070, "WSAESTALE Stale 無効なハンドル \n"},
    {10071, "WSAEREMOTO Remote リモートのパス \n"},
    {10091, "WSASYSNOTREADY System Not Ready ネットワークの準備ができていない \n"},
    {10092, "WSAVERNOTSUPPORTED Version Not Supported 要求されたバージョンがサポートされていない \n"},
    {10093, "WSANOTINITIALIZED Not Initialized WinSockが初期化されていない \n"},
    {10101, "WSAEDISCON DisConnection 切断されている \n"},
    {11001, "WSAHOST_NOT_FOUND Host Not Found ホストが見つからない \n"},
    {11002, "WSATRY_AGAIN Try Again 一時的なエラー、再試行が必要 \n"},
    {11003, "WSANO_RECOVERY No Recovery 回復できないエラー \n"},
    {11004, "WSANO_DATA No Data 名前に対応するアドレスがない \n"},
};

CvString ToSjis(const std::string& utf8)
{
    const std::string sjis = PlatformUtf8ToCp932(utf8);
    return CvString(sjis.c_str(), static_cast<int32_t>(sjis.size()));
}

__attribute__((format(printf, 1, 0))) std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace

AstSockGUILogger AstSockSetGUILogger(AstSockGUILogger logger)
{
    const AstSockGUILogger previous = g_guiLogger;
    g_guiLogger = logger;
    return previous;
}

AstSockGUILogger AstSockGetGUILogger()
{
    return g_guiLogger;
}

void AstSockGUILog(const char* utf8Format, ...)
{
    if (g_guiLogger == nullptr) {
        return;
    }
    // The format becomes Shift_JIS first: the arguments (names from the
    // network, paths) already are.
    const std::string format = PlatformUtf8ToCp932(utf8Format);
    va_list args;
    va_start(args, utf8Format);
    const std::string text = FormatV(format.c_str(), args);
    va_end(args);
    g_guiLogger(CvString(text.c_str(), static_cast<int32_t>(text.size())));
}

CvString AstSockErrorText(int32_t code)
{
    for (const ErrorRow& row : kErrorTable) {
        if (row.code == code) {
            return ToSjis(row.line);
        }
    }
    CvString unknown = ToSjis("不明なエラーコード[%d]");
    CvString line;
    line.Format(unknown.GetBuffer(), code);
    return line;
}

void AstSockPrintError(int32_t code)
{
    CvkLogPrint("%s", AstSockErrorText(code).GetBuffer());
}

void AstSockLogPrint(const char* utf8Format, ...)
{
    const std::string format = PlatformUtf8ToCp932(utf8Format);
    va_list args;
    va_start(args, utf8Format);
    const std::string text = FormatV(format.c_str(), args);
    va_end(args);
    CvkLogPrint("%s", text.c_str());
}

void AstSockLogText(const char* utf8)
{
    CvkLogPrint("%s", PlatformUtf8ToCp932(utf8).c_str());
}
