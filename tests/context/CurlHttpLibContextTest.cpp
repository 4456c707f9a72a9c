#include "context/CurlHttpLibContext.h"
#include "context/BasicHttpLibStrategy.h"
#include "context/ClientUtils.h"
#include "context/FileTransferHandler.h"
#include "curlppx/CurlGlobal.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::Reply;
using testsupport::TestServer;
using Messages = std::vector<std::wstring>;

constexpr auto kBound = 60s;

enum class Form { Text, Download, Header };

std::string FormName(Form form) {
    switch (form) {
    case Form::Text:
        return "Text";
    case Form::Download:
        return "Download";
    case Form::Header:
        return "Header";
    }
    return "Unknown";
}

void PrintTo(Form form, std::ostream* os) {
    *os << FormName(form);
}

std::wstring Attempt(int curlCode, int httpCode, const std::wstring& method = L"GET") {
    return L"httpRequest Method:" + method + L"\nCurlCode: " + std::to_wstring(curlCode) +
           L"\nHttpCode= " + std::to_wstring(httpCode);
}

Messages Times(int count, const std::wstring& message) {
    return Messages(static_cast<std::size_t>(count), message);
}

struct Outcome {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
};

// Performs one request in the given form; the download form's sink collects
// the body like the other forms' response text.
Outcome Perform(CurlHttpLibContext& context, Form form, int timeout = -1) {
    Outcome out;
    switch (form) {
    case Form::Text:
        out.status = context.Request(out.body, timeout);
        break;
    case Form::Download: {
        FileTransferHandler handler;
        handler.SetWriteDataFunc([&out](unsigned char* data, std::uint64_t& size, bool) {
            out.body.append(reinterpret_cast<const char*>(data), size);
            return true;
        });
        std::string unused;
        out.status = context.Request(unused, &handler);
        break;
    }
    case Form::Header:
        out.status = context.Request(out.body, out.headers);
        break;
    }
    return out;
}

// The process-wide settings the context reads are put back after each test.
class ContextTest : public testing::Test {
protected:
    void SetUp() override {
        strategy.SetLogFunction([this](const std::wstring& text) { logs.push_back(text); });
        strategy.SetErrorLogFunction([this](const std::wstring& text) { errors.push_back(text); });
    }

    void TearDown() override {
        curlppx::CurlGlobal::SetStandByDnsFlag(false);
        curlppx::CurlGlobal::SetLimitLowSpeed(30);
        curlppx::CurlGlobal::SetTimeoutLowSpeed(10);
        curlppx::CurlGlobal::SetTimeoutConnect(30000);
    }

    void Describe(const std::string& path, HttpRequestMethod method = HTTP_GET,
                  const std::wstring& body = {}) {
        strategy.SetUrl(UTF8ToUnicode(server.BaseUrl() + path));
        strategy.SetHttpRequestMethod(method);
        strategy.SetPostData(body);
    }

    TestServer server;
    BasicHttpLibStrategy strategy;
    Messages logs;
    Messages errors;
    CurlHttpLibContext context{&strategy};
};

class AttemptLoop : public ContextTest, public testing::WithParamInterface<Form> {};

TEST_P(AttemptLoop, A200EndsTheLoopAndGoesToTheLogOnly) {
    server.Script("/r", {Reply::Status(200, "ok"), Reply::Status(500)});
    Describe("r");
    const Outcome out = Perform(context, GetParam());
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(out.body, "ok");
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(logs, Messages{Attempt(0, 200)});
    EXPECT_EQ(errors, Messages{});
}

TEST_P(AttemptLoop, A204EndsTheLoop) {
    server.Script("/r", {Reply::Status(204), Reply::Status(500)});
    Describe("r");
    EXPECT_EQ(Perform(context, GetParam()).status, 204);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(logs, Messages{Attempt(0, 204)});
}

TEST_P(AttemptLoop, AnyOtherStatusIsTriedThreeTimes) {
    server.Script("/r", {Reply::Status(500, "one"), Reply::Status(500, "two"),
                         Reply::Status(500, "three"), Reply::Status(200, "never")});
    Describe("r");
    const Outcome out = Perform(context, GetParam());
    EXPECT_EQ(out.status, 500);
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(logs, Times(3, Attempt(0, 500)));
    if (GetParam() == Form::Text) {
        EXPECT_EQ(errors, Times(3, Attempt(0, 500)));
    } else {
        EXPECT_EQ(errors, Messages{});
    }
    // The text forms start every attempt afresh; a sink is handed every
    // attempt's body and must sort them out itself.
    EXPECT_EQ(out.body, GetParam() == Form::Download ? "onetwothree" : "three");
}

TEST_P(AttemptLoop, ATransportFailureIsTriedThreeTimesAndGivesStatus0) {
    strategy.SetUrl(
        UTF8ToUnicode("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/r"));
    EXPECT_EQ(Perform(context, GetParam()).status, 0);
    EXPECT_EQ(logs, Times(3, Attempt(7, 0)));
    EXPECT_EQ(errors, GetParam() == Form::Text ? Times(3, Attempt(7, 0)) : Messages{});
}

INSTANTIATE_TEST_SUITE_P(Forms, AttemptLoop,
                         testing::Values(Form::Text, Form::Download, Form::Header),
                         [](const testing::TestParamInfo<Form>& info) {
                             return FormName(info.param);
                         });

TEST_F(ContextTest, ACertificateFromAnotherCaFailsEveryAttempt) {
    TestServer stranger(TestServer::Mode::HttpsOtherCa);
    strategy.SetUrl(UTF8ToUnicode(stranger.BaseUrl() + "r"));
    std::string response;
    EXPECT_EQ(context.Request(response, -1), 0);
    EXPECT_EQ(errors, Times(3, Attempt(60, 0)));
    EXPECT_EQ(stranger.RequestCount(), 0u);
}

TEST_F(ContextTest, TheTimeoutFormHasAnOverallLimitAndNoLowSpeedLimit) {
    // Process-wide: anything under 1 MB/s for a second is too slow.
    curlppx::CurlGlobal::SetLimitLowSpeed(1'000'000);
    curlppx::CurlGlobal::SetTimeoutLowSpeed(1);
    Reply slow = Reply::Status(200, std::string(15, 's'));
    slow.fault = Reply::Fault::Trickle;
    slow.trickleChunk = 1;
    slow.trickleInterval = 100ms;
    server.Script("/slow", {slow});
    Describe("slow");

    std::string response;
    EXPECT_EQ(context.Request(response, 60), 200);
    EXPECT_EQ(response, std::string(15, 's'));
    EXPECT_EQ(errors, Messages{});

    // Without a timeout the process-wide low-speed limit breaks it off. The
    // status line had come, so there is no second attempt.
    logs.clear();
    EXPECT_EQ(context.Request(response, -1), 200);
    EXPECT_EQ(errors, Messages{Attempt(28, 200)});
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(ContextTest, TheTimeoutFormGivesUpOnAReplyThatNeverComes) {
    Reply late = Reply::Status(200, "late");
    late.delay = 30s;
    server.Script("/late", {late});
    Describe("late");
    std::string response;
    EXPECT_EQ(context.Request(response, 1), 0);
    EXPECT_EQ(errors, Times(3, Attempt(28, 0)));
}

TEST_F(ContextTest, SendsTheStrategyHeadersBetweenItsOwnLines) {
    strategy.SetHeaders({{L"X-One", L"1"}, {L"userId", L"u9"}});
    server.Script("/p", {Reply::Status(200)});
    Describe("p", HTTP_POST, L"{\"a\":\"\u00e9\"}");
    std::string response;
    ASSERT_EQ(context.Request(response, -1), 200);
    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "{\"a\":\"\xc3\xa9\"}");
    EXPECT_EQ(request.Header("Content-Type"), "application/json; charset=UTF-8");
    EXPECT_EQ(request.Header("X-One"), "1");
    EXPECT_EQ(request.HeaderValues("userId"), std::vector<std::string>{"u9"});
    EXPECT_EQ(request.Header("x-qx-os-brand"), "Windows");
    // The empty client mode means the header is left out, not sent empty.
    EXPECT_FALSE(request.HasHeader("x-qx-client-mode"));
    EXPECT_FALSE(request.HasHeader("unionID"));
    EXPECT_FALSE(request.HasHeader("Lock-Token"));
}

TEST_F(ContextTest, EachFormHasItsOwnBodyRule) {
    server.SetDefault(Reply::Status(200));
    // Text form: a body only for POST.
    Describe("d", HTTP_DELETE, L"dropped");
    std::string response;
    ASSERT_EQ(context.Request(response, -1), 200);
    // Download form: a body for every method but GET.
    Describe("u", HTTP_PUT, L"kept");
    ASSERT_EQ(Perform(context, Form::Download).status, 200);
    // Header form: never a body, and the user id lines.
    context.SetUerID(L"u1");
    Describe("h", HTTP_POST, L"dropped");
    ASSERT_EQ(Perform(context, Form::Header).status, 200);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "DELETE");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].body, "kept");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].body, "");
    EXPECT_EQ(requests[2].Header("userId"), "u1");
    EXPECT_EQ(requests[2].Header("unionID"), "u1");
    EXPECT_EQ(logs.back(), Attempt(0, 200, L"POST"));
}

TEST_F(ContextTest, LockTokenGoesBackOnlyFromTheSameThreadAndForm) {
    Reply locked = Reply::Status(200);
    locked.headers = {{"Lock-Token", "<opaquelocktoken:t1>"}};
    server.SetDefault(Reply::Status(200));
    const auto inThread = [](const std::function<void()>& body) { std::thread(body).join(); };
    const auto perform = [this](const std::string& path, Form form) {
        BasicHttpLibStrategy own;
        own.SetUrl(UTF8ToUnicode(server.BaseUrl() + path));
        CurlHttpLibContext other(&own);
        Perform(other, form);
    };

    server.Script("/lock", {locked, Reply::Status(200)});
    inThread([&] {
        perform("lock", Form::Text);      // 0: the token arrives
        perform("plain", Form::Text);     // 1: sent back
        perform("plain", Form::Download); // 2: another form
        perform("plain", Form::Header);   // 3: the header form keeps none
        perform("plain", Form::Text);     // 4: still kept
    });
    inThread([&] { perform("plain", Form::Text); }); // 5: another thread
    server.Script("/lock", {locked, Reply::Status(200)});
    inThread([&] {
        perform("lock", Form::Download);  // 6
        perform("plain", Form::Download); // 7: sent back
        perform("plain", Form::Text);     // 8
    });

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 9u);
    std::vector<std::string> sent;
    for (const auto& request : requests) {
        sent.push_back(request.Header("Lock-Token"));
    }
    const std::string token = "<opaquelocktoken:t1>";
    EXPECT_EQ(sent, (std::vector<std::string>{"", token, "", "", token, "", "", token, ""}));
}

TEST_F(ContextTest, TheHeaderFormCollectsTrimmedReplyHeaders) {
    Reply reply = Reply::Status(200, std::string(42, 'x'));
    reply.headers = {{"X-Pad", "  b  "}, {"X-Twice", "first"}, {"X-Twice", "second"}};
    server.Script("/h", {reply});
    Describe("h");
    const Outcome out = Perform(context, Form::Header);
    ASSERT_EQ(out.status, 200);
    EXPECT_EQ(out.headers.at("Content-Length"), "42");
    // Spaces go before the line end is cut, so trailing spaces survive.
    EXPECT_EQ(out.headers.at("X-Pad"), "b  ");
    EXPECT_EQ(out.headers.at("X-Twice"), "second");
    for (const auto& [name, value] : out.headers) {
        EXPECT_EQ(name.find("HTTP/"), std::string::npos) << name;
        EXPECT_FALSE(name.empty());
    }
}

TEST_F(ContextTest, ASinkThatTakesNothingStopsTheDownload) {
    constexpr std::size_t kTotal = 64 * 1024;
    Reply big = Reply::Status(200, std::string(kTotal, 'd'));
    big.fault = Reply::Fault::Trickle;
    big.trickleChunk = 512;
    big.trickleInterval = 20ms;
    server.Script("/big", {big});
    Describe("big");

    std::mutex mutex;
    std::condition_variable arrived;
    std::size_t received = 0;
    FileTransferHandler handler;
    handler.SetWriteDataFunc([&](unsigned char*, std::uint64_t& size, bool flag) {
        EXPECT_TRUE(flag);
        if (context.IsStopDownload()) {
            size = 0;
            return true;
        }
        {
            std::lock_guard lock(mutex);
            received += size;
        }
        arrived.notify_all();
        return true;
    });
    auto download = std::async(std::launch::async, [&] {
        std::string unused;
        return context.Request(unused, &handler);
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(arrived.wait_for(lock, kBound, [&] { return received > 0; }));
    }
    context.StopDownload();
    ASSERT_EQ(download.wait_for(kBound), std::future_status::ready);
    // The status line came, so the loop ends although the body did not.
    EXPECT_EQ(download.get(), 200);
    EXPECT_EQ(context.GetLastCurlCode(), 23);
    EXPECT_LT(received, kTotal);
    EXPECT_EQ(logs, Messages{Attempt(23, 200)});
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(ContextTest, ASinkThatOnlyReportsFailureDoesNotStopTheDownload) {
    server.Script("/d", {Reply::Status(200, "whole")});
    Describe("d");
    std::string seen;
    FileTransferHandler handler;
    handler.SetWriteDataFunc([&seen](unsigned char* data, std::uint64_t& size, bool) {
        seen.append(reinterpret_cast<const char*>(data), size);
        return false;
    });
    std::string unused;
    EXPECT_EQ(context.Request(unused, &handler), 200);
    EXPECT_EQ(seen, "whole");
    EXPECT_EQ(logs, Messages{Attempt(0, 200)});

    // Without a sink nothing can take the body.
    logs.clear();
    EXPECT_EQ(context.Request(unused, nullptr), 200);
    EXPECT_EQ(logs, Messages{Attempt(23, 200)});
}

TEST_F(ContextTest, AnUnresolvableHostSwitchesTheProcessToTheStandbyDns) {
    // A label longer than 63 bytes is refused by the local resolver before
    // any query leaves the machine, and .invalid never resolves anyway.
    strategy.SetUrl(L"https://" + std::wstring(64, L'a') + L".invalid/r");
    ASSERT_FALSE(curlppx::CurlGlobal::GetStandByDnsFlag());
    std::string response;
    EXPECT_EQ(context.Request(response, -1), 0);
    EXPECT_TRUE(curlppx::CurlGlobal::GetStandByDnsFlag());
    EXPECT_EQ(logs, Times(3, Attempt(6, 0)));

    // From now on every request asks for the standby servers. A libcurl that
    // cannot choose its DNS servers refuses that option, and an address
    // literal needs no lookup: either way the request still goes through.
    server.Script("/r", {Reply::Status(200)});
    Describe("r");
    logs.clear();
    EXPECT_EQ(context.Request(response, -1), 200);
    EXPECT_EQ(logs, Messages{Attempt(0, 200)});
}

TEST_F(ContextTest, AMethodWithoutANameIsNotSent) {
    Describe("r", static_cast<HttpRequestMethod>(9));
    std::string response;
    EXPECT_EQ(context.Request(response, -1), 0);
    EXPECT_EQ(logs, Messages{L"BaseNetInterface HttpRequest method(9) is not supported"});
    EXPECT_EQ(server.RequestCount(), 0u);
}

// A strategy whose header getter fails the way a host's strategy might.
class FailingStrategy : public BasicHttpLibStrategy {
public:
    std::function<void()> fail;
    std::map<std::wstring, std::wstring> GetHeaders() override {
        fail();
        return {};
    }
};

TEST(TextFormExceptions, AreCaughtAndReportedWithTheStatusReachedSoFar) {
    FailingStrategy strategy;
    Messages logs;
    strategy.SetLogFunction([&logs](const std::wstring& text) { logs.push_back(text); });
    strategy.SetUrl(L"https://127.0.0.1:1/");
    CurlHttpLibContext context(&strategy);
    std::string response;

    strategy.fail = [] { throw std::runtime_error("host failure"); };
    EXPECT_EQ(context.Request(response, -1), 0);
    strategy.fail = [] { throw 42; };
    EXPECT_EQ(context.Request(response, -1), 0);
    EXPECT_EQ(logs, (Messages{L"BaseNetInterface HttpRequest exception",
                              L"BaseNetInterface HttpRequest Unknown"}));
}

TEST_F(ContextTest, AnExceptionAfterAnAttemptStillGivesItsStatus) {
    server.Script("/r", {Reply::Status(500)});
    Describe("r");
    strategy.SetErrorLogFunction([](const std::wstring&) { throw std::runtime_error("log full"); });
    std::string response;
    EXPECT_EQ(context.Request(response, -1), 500);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(logs, Messages{L"BaseNetInterface HttpRequest exception"});
}

class SpeedMeter : public testing::Test {
protected:
    static constexpr std::int64_t t = 1'700'000'000'000;
    BasicHttpLibStrategy strategy;
    CurlHttpLibContext context{&strategy};
};

TEST_F(SpeedMeter, MeasuresTheGrowthOfTheRunningTotal) {
    context.UpdateSpeedAt(0, t);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 0);
    context.UpdateSpeedAt(1000, t + 500);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 2000);
    // No time has passed since the oldest sample: the growth itself.
    CurlHttpLibContext fresh(&strategy);
    fresh.UpdateSpeedAt(700, t);
    EXPECT_EQ(fresh.GetSpeedBytesBySecond(), 700);
}

TEST_F(SpeedMeter, SamplesOlderThanTwoSecondsLeaveAndHandOverTheirBytes) {
    context.UpdateSpeedAt(0, t);
    context.UpdateSpeedAt(1000, t + 1000);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 1000);
    // The sample at t leaves; the baseline is its 0 bytes, the oldest time
    // left is t + 1000: 4000 bytes over 1.5 s.
    context.UpdateSpeedAt(4000, t + 2500);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 2666);
    // Now the sample at t + 1000 leaves with its 1000 bytes as the baseline.
    context.UpdateSpeedAt(5000, t + 4000);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 2666);
}

TEST_F(SpeedMeter, ResetWaitsForTheStopFlagThenStartsTheMeterAfresh) {
    EXPECT_EQ(context.GetContentRange(), -1);
    context.UpdateSpeedAt(0, t);
    context.UpdateSpeedAt(1000, t + 500);
    context.StopDownload();
    EXPECT_TRUE(context.IsStopDownload());

    auto reset = std::async(std::launch::async, [this] { context.Reset(); });
    EXPECT_EQ(reset.wait_for(100ms), std::future_status::timeout);
    context.StartDownload();
    ASSERT_EQ(reset.wait_for(kBound), std::future_status::ready);
    EXPECT_FALSE(context.IsStopDownload());
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 0);
    // No old sample is left to serve as a baseline.
    context.UpdateSpeedAt(300, t + 600);
    EXPECT_EQ(context.GetSpeedBytesBySecond(), 300);
}

} // namespace
