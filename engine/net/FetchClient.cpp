// SPDX-License-Identifier: Apache-2.0
#include "net/FetchClient.h"

#include <poll.h>
#include <yaz/zoom.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>

#include "charset/Charset.h"

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the stop request.
constexpr std::chrono::milliseconds kStopCheckInterval{100};

struct ConnectionDeleter {
    void operator()(ZOOM_connection_p* c) const { ZOOM_connection_destroy(c); }
};
struct ResultSetDeleter {
    void operator()(ZOOM_resultset_p* r) const { ZOOM_resultset_destroy(r); }
};
struct OptionsDeleter {
    void operator()(ZOOM_options_p* o) const { ZOOM_options_destroy(o); }
};
struct QueryDeleter {
    void operator()(ZOOM_query_p* q) const { ZOOM_query_destroy(q); }
};
using Connection = std::unique_ptr<ZOOM_connection_p, ConnectionDeleter>;
using ResultSet = std::unique_ptr<ZOOM_resultset_p, ResultSetDeleter>;
using Options = std::unique_ptr<ZOOM_options_p, OptionsDeleter>;
using Query = std::unique_ptr<ZOOM_query_p, QueryDeleter>;

std::string text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

/// A ZOOM error as a user reads it: the message, the diagnostic's set and
/// code when a server sent it, and what the server added.
std::string describeError(int code, const char* message, const char* addinfo, const char* diagset)
{
    std::string told = text(message);
    if (told.empty())
        told = "error";
    const std::string set = text(diagset);
    if (!set.empty() && set != "ZOOM")
        told += " (" + set + " diagnostic " + std::to_string(code) + ")";
    if (addinfo != nullptr && *addinfo != '\0')
        told += ": " + std::string(addinfo);
    return told;
}

/// One server's search: its connection and where it stands.
struct Session {
    enum class Stage { Searching, Presenting, Finished };

    const ServerDescription* server = nullptr;
    ServerResult* result = nullptr;
    std::size_t index = 0;                ///< the server's place in the list given
    FetchObserver* observer = nullptr;    ///< told of hits, records and the end
    Options options;
    Connection connection;
    ResultSet resultSet;
    Stage stage = Stage::Finished;
    std::uint64_t wanted = 0;      ///< records to fetch: the hits, at most maxRecords
    std::uint64_t batchStart = 0;  ///< 0-based first record of the present under way
    std::uint64_t batchEnd = 0;
    Clock::time_point deadline;

    void finish()
    {
        stage = Stage::Finished;
        resultSet.reset();
        connection.reset();
    }
    /// The server's result is final: told to the observer. A stop request
    /// only finishes the sessions.
    void complete()
    {
        finish();
        if (observer != nullptr)
            observer->serverEnded(index, *result);
    }
    void fail(std::string why)
    {
        result->failed = true;
        result->failure = std::move(why);
        complete();
    }
};

class Fetcher {
public:
    Fetcher(std::span<const ServerDescription> servers, const CatalogueQuery& query, const FetchOptions& options,
            const WorkMonitor& monitor, FetchObserver* observer)
        : m_servers(servers), m_query(query), m_options(options), m_monitor(monitor), m_observer(observer)
    {
        m_options.batchSize = std::max<std::size_t>(m_options.batchSize, 1);
        m_options.timeoutSeconds = std::max(m_options.timeoutSeconds, 1);
    }

    FetchResult run()
    {
        FetchResult fetched;
        fetched.servers.resize(m_servers.size());
        m_sessions.resize(m_servers.size());
        for (std::size_t i = 0; i < m_servers.size(); ++i) {
            m_sessions[i].index = i;
            m_sessions[i].observer = m_observer;
            start(m_sessions[i], m_servers[i], fetched.servers[i]);
        }
        std::vector<ZOOM_connection> handles(m_sessions.size());
        for (;;) {
            for (std::size_t i = 0; i < m_sessions.size(); ++i)
                handles[i] = m_sessions[i].connection.get();
            while (const int fired = ZOOM_event_nonblock(static_cast<int>(handles.size()), handles.data())) {
                m_sessions[static_cast<std::size_t>(fired - 1)].deadline = nextDeadline();
            }
            bool active = false, requested = false;
            for (Session& session : m_sessions) {
                requested = advance(session) || requested;
                active = active || session.stage != Session::Stage::Finished;
            }
            reportProgress();
            if (!active)
                return fetched;
            if (m_monitor.stopRequested()) {
                for (Session& session : m_sessions)
                    session.finish();
                fetched.cancelled = true;
                return fetched;
            }
            // A request just made is sent by the next round of events, not waited for.
            if (!requested)
                wait();
        }
    }

private:
    Clock::time_point nextDeadline() const { return Clock::now() + std::chrono::seconds(m_options.timeoutSeconds); }

    void start(Session& session, const ServerDescription& server, ServerResult& result)
    {
        session.server = &server;
        session.result = &result;
        const ServerQuery built = QueryForServer(m_query, server, m_codec);
        if (!built.error.empty()) {
            session.fail(built.error);
            return;
        }
        session.options.reset(ZOOM_options_create());
        ZOOM_options_p* o = session.options.get();
        ZOOM_options_set(o, "async", "1");
        ZOOM_options_set_int(o, "timeout", m_options.timeoutSeconds);
        if (!server.user.empty())
            ZOOM_options_set(o, "user", server.user.c_str());
        if (!server.password.empty())
            ZOOM_options_set(o, "password", server.password.c_str());
        if (server.protocol == ServerProtocol::Sru) {
            ZOOM_options_set(o, "sru", server.sruMethod == SruMethod::Post ? "post" : "get");
            if (!server.recordSchema.empty())
                ZOOM_options_set(o, "schema", server.recordSchema.c_str());
        } else {
            ZOOM_options_set(o, "preferredRecordSyntax",
                             server.syntax == RecordSyntax::Unimarc ? "unimarc" : "usmarc");
            ZOOM_options_set(o, "elementSetName", "F");
            // Asks the server to agree on the terms' set where it negotiates
            // character sets; the terms are converted either way.
            if (server.termCharset != Charset::Utf8)
                ZOOM_options_set(o, "charset", std::string(CharsetName(server.termCharset)).c_str());
        }
        session.connection.reset(ZOOM_connection_create(o));
        ZOOM_connection_connect(session.connection.get(), server.address.c_str(), 0);
        Query query(ZOOM_query_create());
        const int refused = built.language == ServerQuery::Language::Cql
                                ? ZOOM_query_cql(query.get(), built.text.c_str())
                                : ZOOM_query_prefix(query.get(), built.text.c_str());
        if (refused != 0) {
            session.fail("the query cannot be read: " + built.text);
            return;
        }
        session.resultSet.reset(ZOOM_connection_search(session.connection.get(), query.get()));
        session.stage = Session::Stage::Searching;
        session.deadline = nextDeadline();
    }

    /// Moves a server on when its last request is done; true when it made a new one.
    bool advance(Session& session)
    {
        bool requested = false;
        while (session.stage != Session::Stage::Finished && ZOOM_connection_is_idle(session.connection.get())) {
            const char* message = nullptr;
            const char* addinfo = nullptr;
            const char* diagset = nullptr;
            const int code = ZOOM_connection_error_x(session.connection.get(), &message, &addinfo, &diagset);
            if (code != 0) {
                session.fail(describeError(code, message, addinfo, diagset));
                return requested;
            }
            const std::uint64_t presentedStart = session.batchStart, presentedEnd = session.batchEnd;
            if (session.stage == Session::Stage::Searching) {
                session.result->hits = ZOOM_resultset_size(session.resultSet.get());
                session.wanted = std::min<std::uint64_t>(session.result->hits, m_options.maxRecords);
                m_expected += session.wanted;
                session.stage = Session::Stage::Presenting;
                if (m_observer != nullptr)
                    m_observer->hitsFound(session.index, session.result->hits);
                session.batchEnd = 0;
            }
            const bool presented = presentedEnd > presentedStart;
            if (session.batchEnd >= session.wanted) {
                if (presented)
                    collect(session, presentedStart, presentedEnd);
                session.complete();
                return requested;
            }
            session.batchStart = session.batchEnd;
            session.batchEnd = std::min<std::uint64_t>(session.batchStart + m_options.batchSize, session.wanted);
            ZOOM_resultset_records(session.resultSet.get(), nullptr, session.batchStart,
                                   session.batchEnd - session.batchStart);
            session.deadline = nextDeadline();
            requested = true;
            if (presented) {
                // The next present goes out before this one's records are
                // read, so that the server works on it meanwhile; the records
                // already taken stay in the result set's cache.
                ZOOM_connection c = session.connection.get();
                while (ZOOM_event_nonblock(1, &c) != 0) {
                }
                collect(session, presentedStart, presentedEnd);
            }
        }
        return requested;
    }

    /// Takes the records [from, to) (0-based) of a present done.
    void collect(Session& session, std::uint64_t from, std::uint64_t to)
    {
        for (std::uint64_t at = from; at < to; ++at) {
            const std::string position = "record " + std::to_string(at + 1) + ": ";
            ++m_done;
            ZOOM_record record = ZOOM_resultset_record_immediate(session.resultSet.get(), at);
            if (record == nullptr) {
                session.result->notes.push_back(position + "the server sent nothing");
                continue;
            }
            const char* message = nullptr;
            const char* addinfo = nullptr;
            const char* diagset = nullptr;
            if (const int code = ZOOM_record_error(record, &message, &addinfo, &diagset); code != 0) {
                session.result->notes.push_back(position + describeError(code, message, addinfo, diagset));
                continue;
            }
            const std::string syntax = text(ZOOM_record_get(record, "syntax", nullptr));
            int length = 0;
            const char* bytes = ZOOM_record_get(record, "raw", &length);
            if (bytes == nullptr || length <= 0) {
                session.result->notes.push_back(position + "the server sent an empty record");
                continue;
            }
            const std::string_view data(bytes, static_cast<std::size_t>(length));
            const bool xml = session.server->protocol == ServerProtocol::Sru || syntax == "XML" ||
                             syntax == "text-XML" || syntax == "application-XML";
            ServerRecordResult read =
                xml ? ReadMarcXmlReply(data, m_codec)
                    : ReadIso2709Reply({reinterpret_cast<const unsigned char*>(data.data()), data.size()}, m_codec);
            if (!read.record) {
                session.result->notes.push_back(position + read.error);
                continue;
            }
            for (const std::string& problem : read.record->problems)
                session.result->notes.push_back(position + problem);
            session.result->records.push_back({at + 1, std::move(*read.record)});
            if (m_observer != nullptr)
                m_observer->recordFetched(session.index, session.result->records.back());
        }
    }

    /// Waits for the sockets of the servers under way, at most until the
    /// next stop check or the nearest time limit; a server past its time
    /// limit fails.
    void wait()
    {
        std::vector<pollfd> fds;
        std::vector<Session*> polled;
        Clock::time_point until = Clock::now() + kStopCheckInterval;
        for (Session& session : m_sessions) {
            if (session.stage == Session::Stage::Finished)
                continue;
            until = std::min(until, session.deadline);
            ZOOM_connection c = session.connection.get();
            const int fd = ZOOM_connection_get_socket(c);
            const int mask = ZOOM_connection_get_mask(c);
            if (fd < 0 || mask == 0)
                continue;
            short events = 0;
            if (mask & ZOOM_SELECT_READ)
                events |= POLLIN;
            if (mask & ZOOM_SELECT_WRITE)
                events |= POLLOUT;
            if (mask & ZOOM_SELECT_EXCEPT)
                events |= POLLPRI;
            fds.push_back({fd, events, 0});
            polled.push_back(&session);
        }
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(milliseconds, 0)));
        if (ready > 0) {
            for (std::size_t i = 0; i < fds.size(); ++i) {
                int mask = 0;
                if (fds[i].revents & (POLLIN | POLLHUP))
                    mask |= ZOOM_SELECT_READ;
                if (fds[i].revents & POLLOUT)
                    mask |= ZOOM_SELECT_WRITE;
                if (fds[i].revents & (POLLERR | POLLPRI))
                    mask |= ZOOM_SELECT_EXCEPT;
                if (mask != 0) {
                    ZOOM_connection_fire_event_socket(polled[i]->connection.get(), mask);
                    polled[i]->deadline = nextDeadline();
                }
            }
        }
        const Clock::time_point now = Clock::now();
        for (Session& session : m_sessions)
            if (session.stage != Session::Stage::Finished && now >= session.deadline)
                session.fail("no answer within " + std::to_string(m_options.timeoutSeconds) + " s");
    }

    void reportProgress()
    {
        if (m_done != m_reportedDone || m_expected != m_reportedExpected) {
            m_reportedDone = m_done;
            m_reportedExpected = m_expected;
            m_monitor.report(m_done, m_expected);
        }
    }

    std::span<const ServerDescription> m_servers;
    const CatalogueQuery& m_query;
    FetchOptions m_options;
    const WorkMonitor& m_monitor;
    FetchObserver* m_observer;
    TextCodec m_codec;
    std::vector<Session> m_sessions;
    std::uint64_t m_done = 0, m_expected = 0;
    std::uint64_t m_reportedDone = 0, m_reportedExpected = 0;
};

}  // namespace

FetchResult FetchRecords(std::span<const ServerDescription> servers, const CatalogueQuery& query, const FetchOptions& options,
                         const WorkMonitor& monitor, FetchObserver* observer)
{
    return Fetcher(servers, query, options, monitor, observer).run();
}

}  // namespace veltrane
