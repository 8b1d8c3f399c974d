#include "web_server.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "signals.hpp"
#include "web_assets.hpp"
#include "web_guard.hpp"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// How often an open page's event stream looks for changes, and how long it
// stays silent before it sends a comment that keeps proxies from closing it.
constexpr auto kUpdatePeriod = std::chrono::milliseconds(250);
constexpr auto kKeepAlivePeriod = std::chrono::seconds(15);
constexpr auto kStopCheck = std::chrono::milliseconds(50);
// Threads serving HTTP, one per open connection: a connection is accepted
// only when a thread is free for it, so that the web port holds at most this
// many descriptors and the rest wait in the kernel's backlog.
constexpr std::size_t kHttpThreads = 32;
// Event streams open at once; each holds a thread, so the rest stay free
// for the pages' other requests. More are refused with 503.
constexpr int kMaxEventStreams = 16;
// A connection that sends nothing is closed after this long.
constexpr time_t kReadTimeOutS = 2;
// The header the page sends with every edit. A page of another site can
// send it only after a CORS preflight, which this server never grants.
constexpr const char* kEditHeader = "X-Mbslave-Sim";

const httplib::Headers kSecurityHeaders{
    {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cross-Origin-Resource-Policy", "same-origin"},
};

void answer(httplib::Response& response, const WebReply& reply) {
    response.status = reply.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(reply.body, "application/json");
}

std::string param(const httplib::Request& request, const char* name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
}

// Open connections: accepting waits while every thread has one.
class ConnectionSlots {
public:
    void acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return open_ < kHttpThreads || stopping_; });
        ++open_;
    }
    void release() {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            --open_;
        }
        room_.notify_one();
    }
    // Lets the accepting thread through, so that the server can stop.
    void stop() {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
        }
        room_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable room_;
    std::size_t open_ = 0;
    bool stopping_ = false;
};

// The server's task queue: each accepted connection takes a slot until its
// thread has closed it.
class BoundedPool final : public httplib::TaskQueue {
public:
    explicit BoundedPool(ConnectionSlots& slots) : slots_(slots), pool_(kHttpThreads) {}

    void enqueue(std::function<void()> task) override {
        slots_.acquire();
        pool_.enqueue([this, task = std::move(task)] {
            task();
            slots_.release();
        });
    }
    void shutdown() override { pool_.shutdown(); }

private:
    ConnectionSlots& slots_;
    httplib::ThreadPool pool_;
};

WebReply refusal(int status, const std::string& message) {
    return {status, "{\"error\": \"" + message + "\"}"};
}

class HttpWebServer final : public WebServer {
public:
    HttpWebServer(WebApi& api, const std::string& host, std::uint16_t port) : api_(api), guard_(host, port) {
        server_.new_task_queue = [this] { return new BoundedPool(slots_); };
        server_.set_payload_max_length(4096);
        server_.set_read_timeout(kReadTimeOutS);
        server_.set_keep_alive_timeout(kReadTimeOutS);
        server_.set_default_headers(kSecurityHeaders);
        // Every request, the page's files and the event stream too, must
        // name this server as its Host: a rebound name gets nothing.
        server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            if (guard_.hostAllowed(request.get_header_value("Host"))) return httplib::Server::HandlerResponse::Unhandled;
            answer(response, refusal(403, "this page is served only as http://127.0.0.1, localhost or the --web host "
                                          "with its port"));
            return httplib::Server::HandlerResponse::Handled;
        });
        for (std::size_t i = 0; i < kWebAssetCount; ++i) {
            const WebAsset& asset = kWebAssets[i];
            server_.Get(asset.path, [&asset](const httplib::Request&, httplib::Response& response) {
                response.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.contentType);
            });
        }
        server_.Get("/api/info", [this](const httplib::Request&, httplib::Response& response) {
            answer(response, api_.info());
        });
        server_.Get("/api/map", [this](const httplib::Request&, httplib::Response& response) {
            answer(response, api_.mapFile());
            response.set_header("Content-Disposition", "attachment; filename=\"mbslave-sim-map.json\"");
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
            if (!fromThePage(request)) {
                answer(response, refusal(403, "edits are taken only from the simulator's own page"));
                return;
            }
            answer(response, api_.editFromBody(request.matches[1].str(), request.matches[2].str(),
                                               request.matches[3].str(), request.body));
        });
        server_.Get(R"(/api/units/([^/]+)/events)", [this](const httplib::Request& request,
                                                           httplib::Response& response) {
            openEventStream(request, response);
        });
    }

    ~HttpWebServer() override {
        stopping_ = true;
        slots_.stop();
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
    // An edit sent by the page's script: a JSON body with the page's header
    // (a form or a no-cors fetch of another site can send neither), and no
    // Origin other than the page's.
    bool fromThePage(const httplib::Request& request) const {
        const std::string type = request.get_header_value("Content-Type");
        const bool json = type.rfind("application/json", 0) == 0 &&
                          (type.size() == 16 || type[16] == ';' || type[16] == ' ');
        return json && request.has_header(kEditHeader) &&
               (!request.has_header("Origin") ||
                guard_.originAllowed(request.get_header_value("Origin"), request.get_header_value("Host")));
    }

    // Server-sent events: the view's values, the counters and new request
    // log records, each when it changed, checked every kUpdatePeriod.
    void openEventStream(const httplib::Request& request, httplib::Response& response) {
        // Gives the stream's place back when its provider is gone.
        struct Place {
            explicit Place(std::atomic<int>& open) : open_(open) {}
            ~Place() { --open_; }
            Place(const Place&) = delete;
            Place& operator=(const Place&) = delete;
            std::atomic<int>& open_;
        };
        struct Stream {
            explicit Stream(std::atomic<int>& open) : place(open) {}
            Place place;
            WebView view;
            bool started = false;
            Clock::time_point lastSent;
        };
        WebView view;
        const WebReply opened = api_.openView(request.matches[1].str(), param(request, "start"),
                                              param(request, "count"), view);
        if (opened.status != 200) {
            answer(response, opened);
            return;
        }
        if (streams_.fetch_add(1) >= kMaxEventStreams) {
            --streams_;
            answer(response, refusal(503, "too many pages open: close one and reload"));
            response.set_header("Connection", "close");  // its thread is free at once
            return;
        }
        auto stream = std::make_shared<Stream>(streams_);
        stream->view = view;
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
    WebGuard guard_;
    ConnectionSlots slots_;
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> streams_{0};
};

}  // namespace

std::unique_ptr<WebServer> startWebServer(WebApi& api, const std::string& host, std::uint16_t port,
                                          std::string& error) {
    auto server = std::make_unique<HttpWebServer>(api, host, port);
    if (!server->bind(host, port)) {
        error = "cannot start the web page on " + host + ":" + std::to_string(port) +
                ": the port is in use or the address is not one of this machine (hint: choose another with --web)";
        return nullptr;
    }
    server->run();
    return server;
}

}  // namespace sim
