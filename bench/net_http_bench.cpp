// http_request against a bare libcurl loop doing the same GETs (a fresh easy handle each, no
// reuse) on the same loopback server, in one run. The interleaved benchmark reports the ratio of
// the two rates; the engine's extra work is the header block, the multi loop and the decoding.

#include "net/http.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class Server {
  public:
    Server() {
        // A typical suggestion answer: a few hundred bytes of script.
        std::string body = "window.baidu.sug({q:\"k\",p:false,s:[";
        for (int i = 0; i < 10; ++i)
            body += "\"keyword suggestion " + std::to_string(i) + "\",";
        body += "]});";
        m_server.Get("/su", [body](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "text/javascript; charset=utf-8");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0) throw std::runtime_error("cannot bind a loopback port");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_url = "http://127.0.0.1:" + std::to_string(m_port) + "/su?wd=k";
    }
    ~Server() {
        m_server.stop();
        m_thread.join();
    }
    const std::string& url() const { return m_url; }

  private:
    httplib::Server m_server;
    int m_port = 0;
    std::string m_url;
    std::thread m_thread;
};

Server& server() {
    static Server instance;
    return instance;
}

bool engineGet(const std::string& url) {
    zelkor::HttpRequestSpec spec;
    spec.url = url;
    zelkor::HttpResponse response = zelkor::http_request(spec);
    return response.status == "200 OK" && !response.text.empty();
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The same request bytes the engine sends by default, so that only the client side differs.
bool plainCurlGet(const std::string& url) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
    for (const char* line :
         {"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
          "Accept: text/html, application/xhtml+xml, */*", "Accept-Encoding: gbk, GB2312",
          "Accept-Language: zh-cn", "Cache-Control: no-cache"})
        headers.reset(curl_slist_append(headers.release(), line));
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    std::string body;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(easy.get(), CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
    return curl_easy_perform(easy.get()) == CURLE_OK && !body.empty();
}

void BM_HttpRequest(benchmark::State& state) {
    const std::string& url = server().url();
    for (auto _ : state)
        if (!engineGet(url)) state.SkipWithError("request failed");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HttpRequest)->UseRealTime()->MinTime(1.0);

void BM_PlainLibcurl(benchmark::State& state) {
    const std::string& url = server().url();
    for (auto _ : state)
        if (!plainCurlGet(url)) state.SkipWithError("request failed");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainLibcurl)->UseRealTime()->MinTime(1.0);

// Alternates the two so that drift of the machine hits both alike; ratio = engine rate / plain rate.
void BM_HttpRequestVsLibcurl(benchmark::State& state) {
    const std::string& url = server().url();
    using Clock = std::chrono::steady_clock;
    Clock::duration engine{}, plain{};
    double engineCpu = 0, plainCpu = 0;
    for (auto _ : state) {
        double c0 = threadCpuSeconds();
        auto t0 = Clock::now();
        bool a = engineGet(url);
        auto t1 = Clock::now();
        double c1 = threadCpuSeconds();
        bool b = plainCurlGet(url);
        auto t2 = Clock::now();
        double c2 = threadCpuSeconds();
        if (!a || !b) state.SkipWithError("request failed");
        engine += t1 - t0;
        plain += t2 - t1;
        engineCpu += c1 - c0;
        plainCpu += c2 - c1;
    }
    // Wall-clock rate ratio, and the same for the client thread's CPU time (less noisy on a
    // loaded machine; the server runs on other threads).
    state.counters["ratio"] = engine.count() > 0 ? double(plain.count()) / double(engine.count()) : 0.0;
    state.counters["cpu_ratio"] = engineCpu > 0 ? plainCpu / engineCpu : 0.0;
}
BENCHMARK(BM_HttpRequestVsLibcurl)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
