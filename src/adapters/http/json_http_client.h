#pragma once

#include "adapters/http/http_recipe.h"
#include "core/ports/log.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QNetworkReply;

namespace glowcast {

// One request of a lamp system that speaks JSON over HTTP(S). The header fields carry credentials
// (an access token): they go on the wire and nowhere else, never into a log line or a failure text.
struct JsonHttpCall {
    HttpMethod method = HttpMethod::Get;
    std::string path; // after the base address: "/api/states"
    std::string body; // sent as application/json with POST and PUT
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t maxReplyBytes = std::size_t{1} << 20;
};

// The asynchronous HTTP side of a lamp system other than the bridges: one base address
// ("http://host:port" or "https://host:port"), each call's answer told later on the main thread,
// at most once, never from inside call() and never after stop(). https checks the peer against the system's certificate
// store, or against the certificates of a CA file alone when one is given (a self-signed
// certificate pinned); nothing turns the check off. No proxy, no cache, and no redirect is ever
// followed, so a credential never reaches another host. Replies over the call's cap are dropped
// while they arrive. stop() ends every call without telling its answer.
class JsonHttpClient final {
public:
    struct Options {
        std::string baseAddress;
        std::string logPrefix; // "lamp system ha: "
        std::optional<std::filesystem::path> caFile;
        std::chrono::milliseconds timeout{5'000};
    };
    // Told the answer, or why there is none: no answer, over the cap, redirected (never followed), a
    // certificate not trusted.
    using Handler = std::function<void(HttpOutcome)>;

    JsonHttpClient(Options options, Log& log);
    ~JsonHttpClient();
    JsonHttpClient(const JsonHttpClient&) = delete;
    JsonHttpClient& operator=(const JsonHttpClient&) = delete;

    void call(const JsonHttpCall& call, Handler handler);
    void stop();

private:
    void failLater(std::string failure, Handler handler);

    Options m_options;
    Log& m_log;
    std::optional<QSslConfiguration> m_tls;
    std::string m_setUpFailure; // a CA file that could not be used: every call fails with it
    QNetworkAccessManager m_manager;
    QObject m_context;
    std::set<QNetworkReply*> m_replies;
    std::uint64_t m_generation = 0;
};

} // namespace glowcast
