// A loopback HTTP server for tests that download: it listens on 127.0.0.1
// (any free port) on its own thread, from construction to destruction, and
// answers every request with the same body.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// The few Winsock calls the server needs, resolved at run time.
struct TSock {
    HMODULE Module = LoadLibraryW(L"ws2_32.dll");
    template <typename T>
    T Get(const char* name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    }
    decltype(&::WSAStartup) Startup = Get<decltype(&::WSAStartup)>("WSAStartup");
    decltype(&::socket) Socket = Get<decltype(&::socket)>("socket");
    decltype(&::bind) Bind = Get<decltype(&::bind)>("bind");
    decltype(&::listen) Listen = Get<decltype(&::listen)>("listen");
    decltype(&::accept) Accept = Get<decltype(&::accept)>("accept");
    decltype(&::recv) Recv = Get<decltype(&::recv)>("recv");
    decltype(&::send) Send = Get<decltype(&::send)>("send");
    decltype(&::closesocket) Close = Get<decltype(&::closesocket)>("closesocket");
    decltype(&::getsockname) GetName = Get<decltype(&::getsockname)>("getsockname");
    ~TSock() { FreeLibrary(Module); }
};

// Serves body (of the given content type) to every request; with sendLength
// false the response has no Content-Length and ends by closing. The response
// goes out in parts of at most 4000 bytes, pauseMs apart.
class TLoopbackServer {
public:
    TLoopbackServer(std::string body, std::string type, bool sendLength = true, DWORD pauseMs = 0)
        : body_(std::move(body)), type_(std::move(type)), sendLength_(sendLength), pauseMs_(pauseMs)
    {
        WSADATA data;
        ok_ = ws_.Module && ws_.Startup(MAKEWORD(2, 2), &data) == 0;
        if (!ok_)
            return;
        listen_ = ws_.Socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = 0x0100007F;  // 127.0.0.1 in network order
        a.sin_port = 0;
        int len = sizeof(a);
        ok_ = listen_ != INVALID_SOCKET && ws_.Bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
              ws_.Listen(listen_, 4) == 0 && ws_.GetName(listen_, reinterpret_cast<sockaddr*>(&a), &len) == 0;
        port_ = ((a.sin_port & 0xFF) << 8) | (a.sin_port >> 8);
        if (ok_)
            thread_ = std::thread([this] { Run(); });
    }
    ~TLoopbackServer()
    {
        if (listen_ != INVALID_SOCKET)
            ws_.Close(listen_);
        if (thread_.joinable())
            thread_.join();
    }
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    bool Ok() const { return ok_; }
    std::wstring Url(const std::wstring& path) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
    }
    // The head of the last request received.
    std::string LastRequest()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return request_;
    }

private:
    void Run()
    {
        for (;;) {
            SOCKET c = ws_.Accept(listen_, nullptr, nullptr);
            if (c == INVALID_SOCKET)
                return;
            std::string req;
            char buf[1024];
            while (req.find("\r\n\r\n") == std::string::npos) {
                int n = ws_.Recv(c, buf, sizeof(buf), 0);
                if (n <= 0)
                    break;
                req.append(buf, n);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                request_ = req;
            }
            std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + type_ + "\r\n";
            head += sendLength_ ? "Content-Length: " + std::to_string(body_.size()) + "\r\n" : "Connection: close\r\n";
            std::string all = head + "\r\n" + body_;
            for (size_t sent = 0; sent < all.size();) {
                // Small parts: the client sees the body arrive over time.
                int n = ws_.Send(c, all.data() + sent, static_cast<int>(std::min<size_t>(all.size() - sent, 4000)), 0);
                if (n <= 0)
                    break;
                sent += n;
                if (pauseMs_)
                    Sleep(pauseMs_);
            }
            ws_.Close(c);
        }
    }

    TSock ws_;
    std::string body_, type_;
    bool sendLength_;
    DWORD pauseMs_;
    bool ok_ = false;
    SOCKET listen_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::string request_;
};

}  // namespace testsupport
