#include "exporter/CHttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>

namespace {

// How long Stop waits for answered requests to leave their suspension before closing.
constexpr auto kStopWait = std::chrono::milliseconds(500);

enum class Stage {
    Received,  // the headers are in; the rest of the request is awaited
    Handling,  // the handler runs; an answer given meanwhile is sent when it returns
    Suspended, // waiting for its answer
    Resumed,   // answered while suspended; sent when libmicrohttpd calls back
    Answered,  // handed to libmicrohttpd
    Ended,     // libmicrohttpd reported the end: nothing may touch the connection any more
};

} // namespace

struct CHttpServer::Exchange : CHttpServer::Reply {
    Exchange(CHttpServer& server, MHD_Connection* connection) : server(server), pConnection(connection) {}

    void Send(Response answer) override
    {
        std::lock_guard lock(mutex);
        if (response || stage == Stage::Ended || stage == Stage::Answered)
            return;
        response = std::make_unique<Response>(std::move(answer));
        if (stage == Stage::Suspended) {
            // A suspended request cannot end before it is resumed (Stop resumes every one before
            // it closes anything), so the connection is still there.
            stage = Stage::Resumed;
            MHD_resume_connection(pConnection);
        }
    }

    CHttpServer& server;
    std::mutex mutex; // guards everything below
    MHD_Connection* pConnection;
    Stage stage = Stage::Received;
    std::unique_ptr<Response> response;
};

struct CHttpServer::Callbacks {
    static void Queue(MHD_Connection* connection, const Response& answer)
    {
        MHD_Response* response = MHD_create_response_from_buffer(
            answer.strBody.size(), const_cast<char*>(answer.strBody.data()), MHD_RESPMEM_MUST_COPY);
        if (!response)
            return; // out of memory: libmicrohttpd closes the connection
        if (!answer.strContentType.empty())
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.strContentType.c_str());
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        MHD_queue_response(connection, static_cast<unsigned>(answer.nStatus), response);
        MHD_destroy_response(response);
    }

    static MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value)
    {
        static_cast<Request*>(cls)->headers.emplace_back(key ? key : "", value ? value : "");
        return MHD_YES;
    }

    // Called first when the headers are in, then once the request is complete (answering
    // before that would make libmicrohttpd close the connection), then after each resume.
    static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                               const char*, const char*, std::size_t* uploadDataSize, void** state)
    {
        auto& server = *static_cast<CHttpServer*>(cls);
        if (!*state) {
            auto exchange = std::make_shared<Exchange>(server, connection);
            *state = new std::shared_ptr<Exchange>(exchange); // freed by OnCompleted
            {
                std::lock_guard lock(server.m_mutex);
                server.m_live.insert(exchange);
            }
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            const bool body =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) ||
                (length && std::strcmp(length, "0") != 0);
            if (body) {
                // Refused before a byte of it is read; the connection closes after the answer.
                exchange->stage = Stage::Answered;
                Queue(connection, Response{MHD_HTTP_CONTENT_TOO_LARGE, "text/plain; charset=utf-8",
                                           "Requests with a body are refused.\n", {}});
            }
            return MHD_YES;
        }

        auto& exchange = **static_cast<std::shared_ptr<Exchange>*>(*state);
        *uploadDataSize = 0; // a body is never read: a request with one was answered at once
        {
            std::lock_guard lock(exchange.mutex);
            if (exchange.stage == Stage::Resumed) {
                --server.m_nSuspended;
                exchange.stage = Stage::Answered;
                Queue(connection, *exchange.response);
                return MHD_YES;
            }
            if (exchange.stage != Stage::Received)
                return MHD_YES;
            exchange.stage = Stage::Handling;
        }

        std::unique_ptr<Response> last;
        {
            std::lock_guard lock(server.m_mutex);
            if (server.m_pLast)
                last = std::make_unique<Response>(*server.m_pLast);
        }
        if (last) {
            exchange.Send(std::move(*last));
        } else {
            Request request;
            request.strMethod = method ? method : "";
            request.strPath = url ? url : "";
            MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request);
            server.m_handler(request, *static_cast<std::shared_ptr<Exchange>*>(*state));
        }

        std::lock_guard lock(exchange.mutex);
        if (exchange.response) {
            exchange.stage = Stage::Answered;
            Queue(connection, *exchange.response);
        } else {
            exchange.stage = Stage::Suspended;
            ++server.m_nSuspended;
            MHD_suspend_connection(connection);
        }
        return MHD_YES;
    }

    static void OnCompleted(void* cls, MHD_Connection*, void** state, MHD_RequestTerminationCode)
    {
        auto& server = *static_cast<CHttpServer*>(cls);
        auto* holder = static_cast<std::shared_ptr<Exchange>*>(*state);
        if (!holder)
            return;
        {
            std::lock_guard lock((*holder)->mutex);
            if ((*holder)->stage == Stage::Suspended || (*holder)->stage == Stage::Resumed)
                --server.m_nSuspended;
            (*holder)->stage = Stage::Ended;
            (*holder)->pConnection = nullptr;
        }
        {
            std::lock_guard lock(server.m_mutex);
            server.m_live.erase(*holder);
        }
        delete holder;
        *state = nullptr;
    }

    static void Discard(void*, const char*, va_list) {}
};

const std::string* CHttpServer::Request::Header(const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (::strcasecmp(key.c_str(), name.c_str()) == 0)
            return &value;
    return nullptr;
}

CHttpServer::CHttpServer(Handler handler, Limits limits) : m_handler(std::move(handler)), m_limits(limits) {}

CHttpServer::~CHttpServer()
{
    Stop(Response{MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8", "Stopping.\n", {}});
}

bool CHttpServer::Listen(const sockaddr* address, std::string& error)
{
    const bool v6 = address->sa_family == AF_INET6;
    const socklen_t size = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, address, size) != 0 || ::listen(fd, 64) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    // One thread of libmicrohttpd's own polls every connection (epoll, so descriptor numbers
    // above 1024, common beside thousands of SNMP sockets, are served too).
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (v6)
        flags |= MHD_USE_IPv6;
    m_pDaemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::OnAccess, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.nConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.nPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, m_limits.nIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        m_limits.nRequestBytes, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::OnCompleted, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::Discard, nullptr, MHD_OPTION_END);
    if (!m_pDaemon) {
        error = "the HTTP server could not start";
        ::close(fd);
        return false;
    }
    m_nListenSocket = fd;
    return true;
}

std::uint16_t CHttpServer::Port() const
{
    sockaddr_storage address {};
    socklen_t size = sizeof address;
    if (m_nListenSocket < 0 || ::getsockname(m_nListenSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void CHttpServer::Stop(const Response& last)
{
    if (!m_pDaemon)
        return;
    std::set<std::shared_ptr<Exchange>> live;
    {
        std::lock_guard lock(m_mutex);
        if (!m_pLast)
            m_pLast = std::make_unique<Response>(last);
        live = m_live;
    }
    for (const auto& exchange : live)
        exchange->Send(last);
    // libmicrohttpd must not be stopped with a request still suspended: let the resumed ones
    // leave their suspension first.
    const auto until = std::chrono::steady_clock::now() + kStopWait;
    while (m_nSuspended > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (m_nSuspended > 0)
        return; // left running rather than stopped against its rules; the process is ending
    MHD_stop_daemon(m_pDaemon);
    m_pDaemon = nullptr;
    // libmicrohttpd does not close a listening socket it was given.
    ::close(m_nListenSocket);
    m_nListenSocket = -1;
}
