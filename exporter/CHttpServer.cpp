#include "exporter/CHttpServer.h"

#include "exporter/CPasswordCheck.h"
#include "exporter/CWebConfig.h"

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
    Checking,  // suspended while its password is checked
    Checked,   // its password was checked (passed tells how); handled when libmicrohttpd calls back
    Handling,  // the handler runs; an answer given meanwhile is sent when it returns
    Suspended, // waiting for its answer
    Resumed,   // answered while suspended; sent when libmicrohttpd calls back
    Answered,  // handed to libmicrohttpd
    Ended,     // libmicrohttpd reported the end: nothing may touch the connection any more
};

const char* const kRealm = "Basic realm=\"veltrane\"";

CHttpServer::Response Unauthorized()
{
    return CHttpServer::Response{MHD_HTTP_UNAUTHORIZED, "text/plain; charset=utf-8",
                                 "A user name and password are needed.\n", {{MHD_HTTP_HEADER_WWW_AUTHENTICATE, kRealm}}, {}};
}

// True when the connection may go on: its client certificate chains to the trusted CA (or,
// where one is only checked if given, it sent none).
bool ClientCertificateAccepted(MHD_Connection* connection, CWebConfig::ClientAuth mode)
{
    if (mode == CWebConfig::ClientAuth::kNone)
        return true;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (!info || !info->tls_session)
        return false;
    auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned int listSize = 0;
    if (gnutls_certificate_get_peers(session, &listSize) == nullptr || listSize == 0)
        return mode == CWebConfig::ClientAuth::kVerifyIfGiven;
    unsigned int status = 0;
    return gnutls_certificate_verify_peers2(session, &status) == GNUTLS_E_SUCCESS && status == 0;
}

} // namespace

struct CHttpServer::Exchange : CHttpServer::Reply {
    Exchange(CHttpServer& server, MHD_Connection* connection) : server(server), pConnection(connection) {}

    void Send(Response answer) override
    {
        std::lock_guard lock(mutex);
        if (response || stage == Stage::Ended || stage == Stage::Answered)
            return;
        response = std::make_unique<Response>(std::move(answer));
        if (stage == Stage::Suspended || stage == Stage::Checking) {
            // A suspended request cannot end before it is resumed (Stop resumes every one before
            // it closes anything), so the connection is still there.
            stage = Stage::Resumed;
            MHD_resume_connection(pConnection);
        }
    }

    // The password check's result: handled when libmicrohttpd calls back.
    void Checked(bool passed)
    {
        std::lock_guard lock(mutex);
        if (stage != Stage::Checking)
            return; // answered by Stop, or the client left
        bPassed = passed;
        stage = Stage::Checked;
        MHD_resume_connection(pConnection);
    }

    CHttpServer& server;
    std::mutex mutex; // guards everything below
    MHD_Connection* pConnection;
    Stage stage = Stage::Received;
    std::unique_ptr<Response> response;
    bool bPassed = false; // once Checked
};

struct CHttpServer::Callbacks {
    static void Queue(MHD_Connection* connection, const Response& answer)
    {
        MHD_Response* response = nullptr;
        if (answer.pSharedBody) {
            auto* hold = new std::shared_ptr<const std::string>(answer.pSharedBody);
            response = MHD_create_response_from_buffer_with_free_callback_cls(
                (*hold)->size(), const_cast<char*>((*hold)->data()),
                [](void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }, hold);
            if (!response)
                delete hold;
        } else {
            response = MHD_create_response_from_buffer(answer.strBody.size(), const_cast<char*>(answer.strBody.data()),
                                                       MHD_RESPMEM_MUST_COPY);
        }
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
            // No request of a connection without the client certificate asked for is handled:
            // the connection closes without an answer.
            if (server.m_pWeb && server.m_pWeb->HasTls() &&
                !ClientCertificateAccepted(connection, server.m_pWeb->TlsSettings().clientAuth))
                return MHD_NO;
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
                                           "Requests with a body are refused.\n", {}, {}});
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
            if (exchange.stage == Stage::Checked) {
                --server.m_nSuspended;
                if (!exchange.bPassed) {
                    exchange.stage = Stage::Answered;
                    Queue(connection, Unauthorized());
                    return MHD_YES;
                }
            } else if (exchange.stage != Stage::Received) {
                return MHD_YES;
            } else if (server.m_pWeb && server.m_pWeb->RequiresAuth()) {
                bool stopping = false;
                {
                    std::lock_guard lock(server.m_mutex);
                    stopping = server.m_pLast != nullptr;
                }
                if (!stopping) {
                    const char* value = nullptr;
                    std::size_t size = 0;
                    if (MHD_lookup_connection_value_n(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION,
                                                      std::strlen(MHD_HTTP_HEADER_AUTHORIZATION), &value,
                                                      &size) != MHD_YES ||
                        !value) {
                        exchange.stage = Stage::Answered;
                        Queue(connection, Unauthorized());
                        return MHD_YES;
                    }
                    const std::shared_ptr<Exchange> holder = *static_cast<std::shared_ptr<Exchange>*>(*state);
                    // A check queued cannot report before the request is suspended: it waits
                    // for the exchange's mutex, held here.
                    switch (server.m_pPasswords->Check(std::string(value, size),
                                                       [holder](bool passed) { holder->Checked(passed); })) {
                    case CPasswordCheck::Outcome::kQueued:
                        exchange.stage = Stage::Checking;
                        ++server.m_nSuspended;
                        MHD_suspend_connection(connection);
                        return MHD_YES;
                    case CPasswordCheck::Outcome::kStopped:
                        exchange.stage = Stage::Answered;
                        Queue(connection, Response{MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8",
                                                   "Stopping.\n", {}, {}});
                        return MHD_YES;
                    case CPasswordCheck::Outcome::kPassed:
                        break;
                    }
                }
            }
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
            const Stage stage = (*holder)->stage;
            if (stage == Stage::Suspended || stage == Stage::Resumed || stage == Stage::Checking ||
                stage == Stage::Checked)
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

CHttpServer::CHttpServer(Handler handler, Limits limits, std::shared_ptr<const CWebConfig> web)
    : m_handler(std::move(handler)), m_limits(limits), m_pWeb(std::move(web))
{
}

CHttpServer::~CHttpServer()
{
    Stop(Response{MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8", "Stopping.\n", {}, {}});
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
    // The TLS settings, when there are any; libmicrohttpd reads them at start (m_pWeb keeps them).
    std::vector<MHD_OptionItem> tls;
    std::string priorities;
    if (m_pWeb && m_pWeb->HasTls()) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = "this system's libmicrohttpd has no TLS";
            ::close(fd);
            return false;
        }
        const CWebConfig::Tls& settings = m_pWeb->TlsSettings();
        priorities = settings.GnuTlsPriorities();
        flags |= MHD_USE_TLS;
        tls.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings.keyPem.c_str())});
        tls.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings.certPem.c_str())});
        tls.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, priorities.data()});
        if (settings.clientAuth != CWebConfig::ClientAuth::kNone)
            tls.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(settings.clientCaPem.c_str())});
    }
    tls.push_back({MHD_OPTION_END, 0, nullptr});
    m_pDaemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::OnAccess, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.nConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.nPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, m_limits.nIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        m_limits.nRequestBytes, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::OnCompleted, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::Discard, nullptr, MHD_OPTION_ARRAY, tls.data(), MHD_OPTION_END);
    if (!m_pDaemon) {
        error = m_pWeb && m_pWeb->HasTls()
                    ? "the HTTPS server could not start (the certificate, the key or the TLS versions were not usable)"
                    : "the HTTP server could not start";
        ::close(fd);
        return false;
    }
    m_nListenSocket = fd;
    if (m_pWeb && m_pWeb->RequiresAuth())
        m_pPasswords = std::make_unique<CPasswordCheck>(m_pWeb);
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
    // No password thread may resume a connection of a stopped daemon: they end first (a check
    // running finishes; the requests it would answer already have last).
    if (m_pPasswords)
        m_pPasswords->Stop();
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
