#include "kit/CvkFcpHttp.h"

#include "kit/CvkHeap.h"

#include <cstdio>
#include <cstring>

#ifdef LUMIVOR_HAVE_CURL
#include <curl/curl.h>

#include <mutex>
#include <vector>

namespace {

const char* const USER_AGENT = "Tessolin";

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One easy handle with the settings every request shares.
struct Request {
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;

    explicit Request(const char* url)
    {
        GlobalInit();
        curl = curl_easy_init();
        if (curl == nullptr) {
            return;
        }
        curl_easy_setopt(curl, CURLOPT_URL, url);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, USER_AGENT);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, CvkFcpHttp::TIME_LIMIT_MS);
        // A transfer that moves nothing for the time limit fails.
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (CvkFcpHttp::TIME_LIMIT_MS + 999) / 1000);
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
        // Reload: never an answer from a cache.
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    ~Request()
    {
        if (curl != nullptr) {
            curl_easy_cleanup(curl);
        }
        curl_slist_free_all(headers);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Runs the request; true when it completed with a 2xx status.
    bool Perform()
    {
        if (curl == nullptr) {
            return false;
        }
        const CURLcode rc = curl_easy_perform(curl);
        return rc == CURLE_OK && Status() >= 200 && Status() < 300;
    }
    long Status() const
    {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
};

size_t Discard(char*, size_t size, size_t count, void* counter)
{
    *static_cast<uint64_t*>(counter) += size * count;
    return size * count;
}

// Body bytes [skip, skip + size) land in target. Without a target of the
// caller's, the sink keeps a buffer of its own (main heap, one byte more for
// a terminator) that grows as the bytes arrive: a server that announces more
// than it sends costs no more memory than what it sends.
struct Sink {
    CURL* curl;
    uint8_t* target;
    uint64_t offset; // where the wanted bytes start in the file
    uint64_t size;   // bytes wanted
    uint64_t skip;   // bytes still to drop (a server that ignores the range)
    uint64_t filled; // bytes stored
    bool started;
    bool grows;        // target is the sink's own buffer
    uint64_t capacity; // bytes the own buffer holds, terminator not counted
};

// Makes room for `need` bytes in the sink's own buffer.
bool Reserve(Sink* sink, uint64_t need)
{
    if (!sink->grows || need <= sink->capacity) {
        return true;
    }
    uint64_t capacity = sink->capacity * 2;
    capacity = capacity < 65536 ? 65536 : capacity;
    capacity = capacity < need ? need : capacity;
    capacity = capacity > sink->size ? sink->size : capacity;
    auto* grown = static_cast<uint8_t*>(t_cvkMainHeapAlloc(static_cast<uint32_t>(capacity + 1), 0, __FILE__, __LINE__));
    if (grown == nullptr) {
        return false;
    }
    if (sink->target != nullptr) {
        std::memcpy(grown, sink->target, static_cast<size_t>(sink->filled));
        t_cvkMainHeapFree(sink->target, __FILE__, __LINE__);
    }
    sink->target = grown;
    sink->capacity = capacity;
    return true;
}

size_t Store(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    if (!sink->started) {
        // A plain 200 answer carries the whole file: drop what precedes the offset.
        sink->started = true;
        long status = 0;
        curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
        sink->skip = status == 200 ? sink->offset : 0;
    }
    uint64_t n = static_cast<uint64_t>(size) * count;
    const char* p = data;
    if (sink->skip > 0) {
        const uint64_t dropped = n < sink->skip ? n : sink->skip;
        sink->skip -= dropped;
        p += dropped;
        n -= dropped;
    }
    const uint64_t room = sink->size - sink->filled;
    const uint64_t take = n < room ? n : room;
    if (take > 0) {
        if (!Reserve(sink, sink->filled + take)) {
            return 0; // out of memory: stop the transfer, the read fails
        }
        std::memcpy(sink->target + sink->filled, p, static_cast<size_t>(take));
        sink->filled += take;
    }
    if (sink->filled == sink->size) {
        return 0; // everything wanted is here: stop the transfer
    }
    return size * count;
}

struct Source {
    const uint8_t* data;
    uint64_t size;
    uint64_t sent;
};

size_t Supply(char* buffer, size_t size, size_t count, void* user)
{
    auto* source = static_cast<Source*>(user);
    const uint64_t room = static_cast<uint64_t>(size) * count;
    const uint64_t left = source->size - source->sent;
    const uint64_t n = left < room ? left : room;
    std::memcpy(buffer, source->data + source->sent, static_cast<size_t>(n));
    source->sent += n;
    return static_cast<size_t>(n);
}

// Size of the resource: HEAD, or a counted GET when the answer has no
// length. -1 on failure.
int64_t QuerySize(const char* url)
{
    {
        Request head(url);
        if (head.curl == nullptr) {
            return -1;
        }
        curl_easy_setopt(head.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(head.curl, CURLOPT_TIMEOUT_MS, CvkFcpHttp::TIME_LIMIT_MS);
        if (!head.Perform()) {
            return -1;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(head.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length >= 0) {
            return static_cast<int64_t>(length);
        }
    }
    Request get(url);
    uint64_t counted = 0;
    curl_easy_setopt(get.curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(get.curl, CURLOPT_WRITEDATA, &counted);
    if (!get.Perform()) {
        return -1;
    }
    return static_cast<int64_t>(counted);
}

} // namespace
#endif // LUMIVOR_HAVE_CURL

CvkFcpHttp::CvkFcpHttp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user)
    : CvkFcpBase(owner, path, callback, user)
{
    SetTag(0x434B4648); // "CKFH"
}

CvkFcpHttp::~CvkFcpHttp() { _joinThread(); }

int CvkFcpHttp::CheckEnableControl(const char* path)
{
    return (path != nullptr && std::strncmp(path, "http://", 7) == 0) ? 1 : 0;
}

#ifdef LUMIVOR_HAVE_CURL

int CvkFcpHttp::IsAvailable() { return 1; }

CvkFcpBase* CvkFcpHttp::SetUp(CvkBase* owner, const char* path, CvkFileReadEndCallback callback, void* user)
{
    return new CvkFcpHttp(owner, path, callback, user);
}

uint32_t CvkFcpHttp::GetSize()
{
    _begin();
    const int64_t size = QuerySize(m_path.GetBuffer());
    if (size < 0 || size > static_cast<int64_t>(UINT32_MAX)) {
        _fail();
        return 0;
    }
    if (size > 0) {
        m_size = static_cast<uint32_t>(size);
    }
    _succeed();
    return static_cast<uint32_t>(size);
}

int CvkFcpHttp::ReadFile(void* buffer, uint32_t offset, uint32_t size)
{
    _begin();
    _freeBuffer();
    if (size == 0) {
        const int64_t total = QuerySize(m_path.GetBuffer());
        if (total <= 0 || total <= static_cast<int64_t>(offset) ||
            total - offset > static_cast<int64_t>(UINT32_MAX) - 1) {
            return _fail();
        }
        size = static_cast<uint32_t>(total - offset);
    }
    const bool own = buffer == nullptr;
    if (own && size == UINT32_MAX) {
        return _fail();
    }
    Request get(m_path.GetBuffer());
    Sink sink{get.curl, static_cast<uint8_t*>(buffer), offset, size, 0, 0, false, own, 0};
    char range[64];
    std::snprintf(range, sizeof range, "%lu-%lu", static_cast<unsigned long>(offset),
                  static_cast<unsigned long>(static_cast<uint64_t>(offset) + size - 1));
    if (get.curl != nullptr) {
        curl_easy_setopt(get.curl, CURLOPT_RANGE, range);
        curl_easy_setopt(get.curl, CURLOPT_WRITEFUNCTION, Store);
        curl_easy_setopt(get.curl, CURLOPT_WRITEDATA, &sink);
    }
    bool ok = false;
    if (get.curl != nullptr) {
        const CURLcode rc = curl_easy_perform(get.curl);
        const long status = get.Status();
        ok = (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) && (status == 200 || status == 206) &&
             sink.filled == sink.size;
    }
    if (!ok) {
        if (own && sink.target != nullptr) {
            t_cvkMainHeapFree(sink.target, __FILE__, __LINE__);
        }
        return _fail();
    }
    if (own) {
        sink.target[size] = 0;
        m_buffer = sink.target;
    }
    m_size = size;
    _succeed();
    _readEnd();
    return 1;
}

int CvkFcpHttp::WriteFile(const void* buffer, uint32_t size)
{
    _begin();
    if (buffer == nullptr && size != 0) {
        return _fail();
    }
    Request put(m_path.GetBuffer());
    if (put.curl == nullptr) {
        return _fail();
    }
    Source source{static_cast<const uint8_t*>(buffer), size, 0};
    curl_easy_setopt(put.curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(put.curl, CURLOPT_READFUNCTION, Supply);
    curl_easy_setopt(put.curl, CURLOPT_READDATA, &source);
    curl_easy_setopt(put.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    uint64_t ignored = 0;
    curl_easy_setopt(put.curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(put.curl, CURLOPT_WRITEDATA, &ignored);
    if (!put.Perform()) {
        return _fail();
    }
    return _succeed();
}

#else // no libcurl in this build: HTTP is built out

int CvkFcpHttp::IsAvailable() { return 0; }

CvkFcpBase* CvkFcpHttp::SetUp(CvkBase*, const char*, CvkFileReadEndCallback, void*) { return nullptr; }

uint32_t CvkFcpHttp::GetSize() { _fail(); return 0; }
int CvkFcpHttp::ReadFile(void*, uint32_t, uint32_t) { return _fail(); }
int CvkFcpHttp::WriteFile(const void*, uint32_t) { return _fail(); }

#endif
