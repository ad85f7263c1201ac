// The HTTP protocol's handling of server answers. A server thread on
// 127.0.0.1 answers every request with the bytes of the input (after the
// first one, which picks the operation) and closes the connection: answers
// cut short, longer than they say, or with lying Content-Length and
// Content-Range fields. Whatever the answer, an operation ends, writes
// nothing outside the caller's buffer, and a successful read leaves a whole
// buffer behind.
#include "kit/CvkBase.h"
#include "kit/CvkFcpHttp.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/tests/KitHeapSlots.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Answers each connection with the current answer, one connection at a time.
class AnswerServer {
public:
    AnswerServer()
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        Check(m_listen >= 0 && bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
              && listen(m_listen, 8) == 0 && getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) == 0);
        m_port = ntohs(a.sin_port);
        std::thread([this] { Run(); }).detach();
    }
    int Port() const { return m_port; }
    void SetAnswer(const uint8_t* data, size_t size)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer.assign(data, data + size);
    }

private:
    void Run()
    {
        for (;;) {
            const int c = accept(m_listen, nullptr, nullptr);
            if (c < 0)
                continue;
            timeval t{0, 200000};
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
            ReadRequest(c);
            std::vector<uint8_t> answer;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                answer = m_answer;
            }
            for (size_t sent = 0; sent < answer.size();) {
                const ssize_t n = send(c, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            // Close after the answer; drain what the client still sends so
            // that the close is an orderly one.
            shutdown(c, SHUT_WR);
            char sink[4096];
            while (recv(c, sink, sizeof sink, 0) > 0) {
            }
            close(c);
        }
    }
    // Reads up to the blank line that ends the request's header.
    static void ReadRequest(int c)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request.append(buffer, static_cast<size_t>(n));
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::vector<uint8_t> m_answer;
};

const uint32_t kGuard = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CvkHeapSimple heap(nullptr, 0, 16);
    KitHeapSlotsSet(&heap);
    static AnswerServer server;
    if (size < 1)
        return 0;
    server.SetAnswer(data + 1, size - 1);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/file.bin";

    const uint8_t op = data[0];
    CvkBase owner;
    CvkFcpHttp http(&owner, url.c_str(), nullptr, nullptr);
    switch (op & 3) {
    case 0:
        http.GetSize();
        break;
    case 1: {
        // The whole file into a buffer of the protocol's own.
        if (http.ReadFile(nullptr, (op >> 2) & 7, 0) == 1) {
            Check(http.GetBuffer() != nullptr);
        } else {
            Check(http.GetBuffer() == nullptr);
        }
        break;
    }
    case 2: {
        // Part of the file into the caller's buffer, guarded on both sides.
        const uint32_t offset = (op >> 2) & 7, want = 1 + (op >> 5) * 9;
        std::vector<uint8_t> block(want + 2 * kGuard, 0xEE);
        http.ReadFile(block.data() + kGuard, offset, want);
        for (uint32_t i = 0; i < kGuard; ++i)
            Check(block[i] == 0xEE && block[kGuard + want + i] == 0xEE);
        break;
    }
    default: {
        const uint8_t body[16] = {'p', 'u', 't'};
        http.WriteFile(body, sizeof body);
        break;
    }
    }
    return 0;
}
