// SPDX-License-Identifier: Apache-2.0
// The client's time limit and stop request, against a loopback port that
// takes connections and never answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/FetchClient.h"

namespace {

using namespace veltrane;
using Clock = std::chrono::steady_clock;

/// A listening loopback socket nobody accepts from: connecting works (the
/// kernel's backlog), then every request waits for ever.
class SilentServer {
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 8) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(m_fd); }
    [[nodiscard]] int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

ServerDescription Z3950At(int port)
{
    ServerDescription server;
    server.address = "127.0.0.1:" + std::to_string(port) + "/Default";
    server.name = server.address;
    return server;
}

CatalogueQuery TitleQuery()
{
    CatalogueQuery query;
    query.terms.push_back({QueryKind::Title, "x"});
    return query;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(FetchClient, ServerThatNeverAnswersFailsAtTheTimeLimit)
{
    SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    const ServerDescription servers[] = {Z3950At(silent.port())};
    FetchOptions options;
    options.timeoutSeconds = 1;
    const Clock::time_point start = Clock::now();
    const FetchResult result = FetchRecords(servers, TitleQuery(), options, NoMonitor());
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 5.0);
    ASSERT_EQ(result.servers.size(), 1u);
    EXPECT_TRUE(result.servers[0].failed);
    EXPECT_EQ(result.servers[0].failure, "no answer within 1 s");
    EXPECT_FALSE(result.cancelled);
}

TEST(FetchClient, StopRequestEndsTheWaitAtOnce)
{
    SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    const ServerDescription servers[] = {Z3950At(silent.port()), Z3950At(silent.port())};
    std::stop_source stop;
    WorkMonitor monitor;
    monitor.stop = stop.get_token();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const Clock::time_point start = Clock::now();
    const FetchResult result = FetchRecords(servers, TitleQuery(), FetchOptions{}, monitor);
    canceller.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_LT(SecondsSince(start), 3.0);  // far below the 30 s time limit
    for (const ServerResult& server : result.servers)
        EXPECT_TRUE(server.records.empty());
}

TEST(FetchClient, QueryAServerCannotTakeFailsThatServerOnly)
{
    SilentServer silent;
    ServerDescription gbk = Z3950At(silent.port());
    gbk.termCharset = Charset::Gbk;
    ServerDescription closed = Z3950At(1);  // nothing listens on port 1
    CatalogueQuery query;
    query.terms.push_back({QueryKind::Title, "😀"});
    const ServerDescription servers[] = {gbk, closed};
    FetchOptions options;
    options.timeoutSeconds = 2;
    const FetchResult result = FetchRecords(servers, query, options, NoMonitor());
    ASSERT_EQ(result.servers.size(), 2u);
    EXPECT_TRUE(result.servers[0].failed);
    EXPECT_NE(result.servers[0].failure.find("U+1F600"), std::string::npos) << result.servers[0].failure;
    EXPECT_TRUE(result.servers[1].failed);
    EXPECT_NE(result.servers[1].failure.find("Connect failed"), std::string::npos) << result.servers[1].failure;
}

/// Notes what an observer is told, as "server:event".
class NotingObserver final : public FetchObserver {
public:
    void hitsFound(std::size_t server, std::uint64_t hits) override
    {
        told.push_back(std::to_string(server) + ":hits " + std::to_string(hits));
    }
    void recordFetched(std::size_t server, const FetchedRecord& record) override
    {
        told.push_back(std::to_string(server) + ":record " + std::to_string(record.position));
    }
    void serverEnded(std::size_t server, const ServerResult& result) override
    {
        told.push_back(std::to_string(server) + (result.failed ? ":failed" : ":done"));
    }
    std::vector<std::string> told;
};

// A failure is told the moment it is known, before a slow server's time
// limit; a stop request tells nothing of the servers it ends.
TEST(FetchClient, ObserverHearsOfEachFailureAsItHappens)
{
    SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    const ServerDescription servers[] = {Z3950At(silent.port()), Z3950At(1)};
    std::stop_source stop;
    WorkMonitor monitor;
    monitor.stop = stop.get_token();
    NotingObserver observer;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        stop.request_stop();
    });
    const FetchResult result = FetchRecords(servers, TitleQuery(), FetchOptions{}, monitor, &observer);
    canceller.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(observer.told, std::vector<std::string>{"1:failed"});
}

}  // namespace
