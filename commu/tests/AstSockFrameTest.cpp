// Frames of the socket transport without sockets: the frame built for
// sending, and the incremental reader fed from a scripted source with a
// scripted clock (pieces, tags, refused headers, texts, time-outs).
#include "commu/AstSockFrame.h"
#include "commu/AstSockLog.h"
#include "commu/AstSockSendData.h"
#include "kit/tests/CountingTestHeap.h"
#include "platform/PlatformCodePage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

namespace {

using AstSockFrameTest = KitHeapTest;

std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Frame(uint32_t type, const std::string& payload, uint32_t length, uint32_t begin = AST_SOCK_BEGIN_TAG,
                  uint32_t end = AST_SOCK_END_TAG)
{
    return Le32(begin) + Le32(type) + Le32(length) + payload + Le32(end);
}

std::string Frame(uint32_t type, const std::string& payload)
{
    return Frame(type, payload, static_cast<uint32_t>(payload.size()));
}

// Hands out scripted pieces, one per Read call at most; an empty piece means
// "nothing now"; after the script: nothing now, or the end when `ends`.
class ScriptSource : public AstSockByteSource {
public:
    std::deque<std::string> pieces;
    bool ends = false;
    int32_t Read(void* destination, uint32_t size) override
    {
        if (pieces.empty()) return ends ? -1 : 0;
        std::string& piece = pieces.front();
        if (piece.empty()) {
            pieces.pop_front();
            return 0;
        }
        const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(piece.size()));
        std::memcpy(destination, piece.data(), n);
        piece.erase(0, n);
        if (piece.empty()) pieces.pop_front();
        return static_cast<int32_t>(n);
    }
};

TEST_F(AstSockFrameTest, SendDataBuildsTheFrameAndRefusesWhatNoFrameMayCarry)
{
    AstSockSendData data;
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_EQ(data.GetType(), AST_SOCK_TYPE_NONE);
    ASSERT_EQ(data.SetData(AST_SOCK_TYPE_COMMAND, "ab", 3), 1);
    EXPECT_EQ(data.GetSize(), 19u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.GetBuffer()), data.GetSize()),
              Frame(AST_SOCK_TYPE_COMMAND, std::string("ab\0", 3)));

    EXPECT_EQ(data.SetData(AST_SOCK_TYPE_NONE, "x", 1), 0);
    EXPECT_TRUE(data.IsEmpty()) << "the previous frame is released first";
    EXPECT_EQ(data.SetData(1, nullptr, 1), 0);
    EXPECT_EQ(data.SetData(1, "x", 0), 0);
    EXPECT_EQ(data.SetData(1, "x", 0xFFFFFFF0u), 0) << "N + 16 would wrap";
    mainHeap.refuse = systemHeap.refuse = 1;
    EXPECT_EQ(data.SetData(1, "x", 1), 0);
    mainHeap.refuse = systemHeap.refuse = 0;

    ASSERT_EQ(data.SetData("raw", 3), 1);
    EXPECT_EQ(data.GetType(), AST_SOCK_TYPE_NONE);
    EXPECT_EQ(data.GetSize(), 3u);
}

TEST_F(AstSockFrameTest, ReaderAssemblesFramesFromAnyPieces)
{
    const std::string payload("file bytes \0 with a zero", 24);
    const std::string whole = Frame(AST_SOCK_TYPE_FILE_DATA, payload);
    for (size_t piece : {whole.size(), size_t(1), size_t(3), size_t(5), size_t(13)}) {
        ScriptSource source;
        for (size_t at = 0; at < whole.size(); at += piece) {
            source.pieces.push_back(whole.substr(at, piece));
            source.pieces.push_back(""); // the owner's loop goes round between pieces
        }
        AstSockFrameReader reader;
        reader.Restart();
        uint64_t now = 0;
        int32_t state = AST_SOCK_RECV_BEGIN;
        for (int round = 0; round < 200 && state != AST_SOCK_RECV_COMPLETE; ++round) {
            state = reader.Step(source, now += 1000);
        }
        ASSERT_EQ(state, AST_SOCK_RECV_COMPLETE) << "pieces of " << piece;
        EXPECT_EQ(reader.GetType(), AST_SOCK_TYPE_FILE_DATA);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.GetPayload()), reader.GetLength()), payload);
        EXPECT_EQ(reader.GetPayload()[reader.GetLength()], 0) << "a zero byte follows the payload";
    }
}

TEST_F(AstSockFrameTest, ReaderRefusesBrokenFrames)
{
    const uint32_t N = AST_SOCK_TYPE_NONE;
    struct Case {
        const char* what;
        std::string bytes;
        int32_t error;
    } cases[] = {
        {"begin tag", Frame(3, std::string("a\0", 2), 2, 0x534C4248), AST_SOCK_ERROR_BAD_TAG},
        {"end tag", Frame(3, std::string("a\0", 2), 2, AST_SOCK_BEGIN_TAG, 0x4E454C53), AST_SOCK_ERROR_BAD_TAG},
        {"type 0xFFFFFFFF", Frame(N, "abcd", 4), AST_SOCK_ERROR_BAD_TAG},
        {"length 0", Frame(2, "", 0), AST_SOCK_ERROR_BAD_TAG},
        {"length 4 GB", Frame(2, "", 0xFFFFFFFFu), AST_SOCK_ERROR_MEMORY},
        {"length over the maximum", Frame(2, "", 1025), AST_SOCK_ERROR_MEMORY},
        {"text without its zero", Frame(3, "abc"), AST_SOCK_ERROR_BAD_TAG},
        {"text with a zero inside", Frame(1, std::string("a\0b\0", 4)), AST_SOCK_ERROR_BAD_TAG},
    };
    for (const Case& c : cases) {
        ScriptSource source;
        source.pieces.push_back(c.bytes);
        AstSockFrameReader reader;
        reader.SetMaxPayload(1024);
        reader.Restart();
        const int allocations = systemHeap.allocations;
        EXPECT_EQ(reader.Step(source, 1), AST_SOCK_RECV_ERROR) << c.what;
        EXPECT_EQ(reader.GetError(), c.error) << c.what;
        EXPECT_FALSE(reader.SourceFailed()) << c.what;
        if (c.error == AST_SOCK_ERROR_MEMORY) {
            EXPECT_EQ(systemHeap.allocations, allocations) << c.what << ": refused before allocating";
        }
    }
    // No memory for an acceptable payload: also kind 3.
    ScriptSource source;
    source.pieces.push_back(Frame(2, "abcd"));
    AstSockFrameReader reader;
    reader.Restart();
    systemHeap.refuse = 1;
    EXPECT_EQ(reader.Step(source, 1), AST_SOCK_RECV_ERROR);
    systemHeap.refuse = 0;
    EXPECT_EQ(reader.GetError(), AST_SOCK_ERROR_MEMORY);
}

TEST_F(AstSockFrameTest, ReaderLimitsHoldBetweenPiecesNotBetweenFrames)
{
    const std::string frame = Frame(AST_SOCK_TYPE_FILE_DATA, std::string(100, 'x'));
    struct Case {
        const char* what;
        size_t cut;       // bytes that come before the peer goes quiet
        uint64_t quiet;   // how long it stays quiet (us)
        int32_t state;
    } cases[] = {
        {"quiet between frames", 0, 3600000000ull, AST_SOCK_RECV_BEGIN},
        {"half a header", 6, 1000001, AST_SOCK_RECV_ERROR},
        {"half a header, within the limit", 6, 1000000, AST_SOCK_RECV_HEADER},
        {"inside the payload", 50, 30000001, AST_SOCK_RECV_ERROR},
        {"inside the payload, within the limit", 50, 29000000, AST_SOCK_RECV_PAYLOAD},
        {"before the end tag", 112, 1000001, AST_SOCK_RECV_ERROR},
    };
    for (const Case& c : cases) {
        ScriptSource source;
        if (c.cut > 0) source.pieces.push_back(frame.substr(0, c.cut));
        AstSockFrameReader reader;
        reader.SetLimits(1000000, 30000000);
        reader.Restart();
        reader.Step(source, 5000);
        EXPECT_EQ(reader.Step(source, 5000 + c.quiet), c.state) << c.what;
        if (c.state == AST_SOCK_RECV_ERROR) {
            EXPECT_EQ(reader.GetError(), AST_SOCK_ERROR_TIMEOUT) << c.what;
        }
    }
    // A stream that ends inside a frame is the source's failure, not a time-out.
    ScriptSource source;
    source.pieces.push_back(frame.substr(0, 40));
    source.ends = true;
    AstSockFrameReader reader;
    reader.Restart();
    EXPECT_EQ(reader.Step(source, 1), AST_SOCK_RECV_ERROR);
    EXPECT_TRUE(reader.SourceFailed());
    EXPECT_EQ(reader.GetError(), AST_SOCK_ERROR_NONE);
}

TEST_F(AstSockFrameTest, ReaderKeepsOrDropsTheLastFrameAsAsked)
{
    ScriptSource source;
    source.pieces.push_back(Frame(3, std::string("one\0", 4)) + Frame(3, std::string("two\0", 4)));
    AstSockFrameReader reader;
    reader.Restart();
    ASSERT_EQ(reader.Step(source, 1), AST_SOCK_RECV_COMPLETE);
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.GetPayload()), "one");
    EXPECT_EQ(reader.Step(source, 2), AST_SOCK_RECV_COMPLETE) << "a complete frame waits for its owner";
    reader.Restart();
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.GetPayload()), "one") << "kept until the next frame";
    ASSERT_EQ(reader.Step(source, 3), AST_SOCK_RECV_COMPLETE);
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.GetPayload()), "two");
    reader.DestroyFrame();
    EXPECT_EQ(reader.GetPayload(), nullptr);
    EXPECT_EQ(reader.GetType(), AST_SOCK_TYPE_NONE);
    EXPECT_EQ(reader.GetState(), AST_SOCK_RECV_BEGIN);
}

TEST_F(AstSockFrameTest, DiagnosticLines)
{
    struct Case {
        int32_t code;
        const char* line;
    } cases[] = {
        {10035, "WSAEWOULDBLOCK Would Block 処理がブロック中(同期処理が終わっていない)非ブロッキングモード（非同期）で動作"
                "しているときに発生し，ブロックモードであれば，ブロックされることを通知.  \n"},
        {10060, "WSAETIMEDOOUT Timed Out 時間切れ \n"},
        {10061, "WSAECONNREFUSED Connection Refused 接続拒否 \n"},
        {11001, "WSAHOST_NOT_FOUND Host Not Found ホストが見つからない \n"},
        {10093, "WSANOTINITIALIZED Not Initialized WinSockが初期化されていない \n"},
        {10101, "WSAEDISCON DisConnection 切断されている \n"},
        {12345, "不明なエラーコード[12345]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(AstSockErrorText(c.code).GetBuffer()), PlatformUtf8ToCp932(c.line)) << c.code;
    }
    const int32_t listed[] = {10004, 10009, 10013, 10014, 10022, 10024, 10036, 10037, 10038, 10039, 10040, 10041,
                              10042, 10043, 10044, 10045, 10046, 10047, 10048, 10049, 10050, 10051, 10052, 10053,
                              10054, 10055, 10056, 10057, 10058, 10059, 10062, 10063, 10064, 10065, 10066, 10067,
                              10068, 10069, 10070, 10071, 10091, 10092, 11002, 11003, 11004};
    const std::string unknown = PlatformUtf8ToCp932("不明なエラーコード");
    for (int32_t code : listed) {
        const std::string line = AstSockErrorText(code).GetBuffer();
        EXPECT_EQ(line.compare(0, 3, "WSA"), 0) << code;
        EXPECT_EQ(line.back(), '\n') << code;
        EXPECT_EQ(line.find(unknown), std::string::npos) << code;
    }
}

} // namespace
