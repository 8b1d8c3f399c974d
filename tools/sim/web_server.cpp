#include "web_server.hpp"

#include <atomic>
#include <chrono>
#include <thread>

#include <httplib.h>

#include "signals.hpp"
#include "web_assets.hpp"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// How often an open page's event stream looks for changes, and how long it
// stays silent before it sends a comment that keeps proxies from closing it.
constexpr auto kUpdatePeriod = std::chrono::milliseconds(250);
constexpr auto kKeepAlivePeriod = std::chrono::seconds(15);
constexpr auto kStopCheck = std::chrono::milliseconds(50);
// Threads serving HTTP; every open page holds one for its event stream.
constexpr std::size_t kHttpThreads = 16;

void answer(httplib::Response& response, const WebReply& reply) {
    response.status = reply.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(reply.body, "application/json");
}

std::string param(const httplib::Request& request, const char* name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
}

class HttpWebServer final : public WebServer {
public:
    explicit HttpWebServer(WebApi& api) : api_(api) {
        server_.new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
        server_.set_payload_max_length(4096);
        for (std::size_t i = 0; i < kWebAssetCount; ++i) {
            const WebAsset& asset = kWebAssets[i];
            server_.Get(asset.path, [&asset](const httplib::Request&, httplib::Response& response) {
                response.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.contentType);
            });
        }
        server_.Get("/api/info", [this](const httplib::Request&, httplib::Response& response) {
            answer(response, api_.info());
        });
        server_.Get(R"(/api/units/([^/]+)/values)", [this](const httplib::Request& request,
                                                           httplib::Response& response) {
            WebView view;
            const WebReply opened = api_.openView(request.matches[1].str(), param(request, "start"),
                                                  param(request, "count"), view);
            answer(response, opened.status == 200 ? api_.values(view) : opened);
        });
        server_.Post(R"(/api/units/([^/]+)/([^/]+)/([^/]+))", [this](const httplib::Request& request,
                                                                     httplib::Response& response) {
            answer(response, api_.edit(request.matches[1].str(), request.matches[2].str(),
                                       request.matches[3].str(), param(request, "value")));
        });
        server_.Get(R"(/api/units/([^/]+)/events)", [this](const httplib::Request& request,
                                                           httplib::Response& response) {
            openEventStream(request, response);
        });
    }

    ~HttpWebServer() override {
        stopping_ = true;
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }

    bool bind(const std::string& host, std::uint16_t port) { return server_.bind_to_port(host, port); }

    void run() {
        thread_ = std::thread([this] {
            // The stop signals belong to the server loop's thread, whose
            // wait they interrupt; the HTTP threads inherit this mask.
            blockStopSignals();
            server_.listen_after_bind();
        });
    }

private:
    // Server-sent events: the view's values, the counters and new request
    // log records, each when it changed, checked every kUpdatePeriod.
    void openEventStream(const httplib::Request& request, httplib::Response& response) {
        struct Stream {
            WebView view;
            bool started = false;
            Clock::time_point lastSent;
        };
        auto stream = std::make_shared<Stream>();
        const WebReply opened = api_.openView(request.matches[1].str(), param(request, "start"),
                                              param(request, "count"), stream->view);
        if (opened.status != 200) {
            answer(response, opened);
            return;
        }
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider("text/event-stream", [this, stream](std::size_t, httplib::DataSink& sink) {
            if (stream->started) {
                for (auto waited = Clock::duration::zero(); waited < kUpdatePeriod && !stopping_; waited += kStopCheck) {
                    std::this_thread::sleep_for(kStopCheck);
                }
            }
            stream->started = true;
            if (stopping_) return false;
            std::string events = api_.update(stream->view);
            const auto now = Clock::now();
            if (events.empty() && now - stream->lastSent >= kKeepAlivePeriod) events = ": keep-alive\n\n";
            if (events.empty()) return true;
            stream->lastSent = now;
            return sink.write(events.data(), events.size());
        });
    }

    WebApi& api_;
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};

}  // namespace

std::unique_ptr<WebServer> startWebServer(WebApi& api, const std::string& host, std::uint16_t port,
                                          std::string& error) {
    auto server = std::make_unique<HttpWebServer>(api);
    if (!server->bind(host, port)) {
        error = "cannot start the web page on " + host + ":" + std::to_string(port) +
                ": the port is in use or the address is not one of this machine (hint: choose another with --web)";
        return nullptr;
    }
    server->run();
    return server;
}

}  // namespace sim
