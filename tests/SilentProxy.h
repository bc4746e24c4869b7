#pragma once

// A relay between stations and the election server, both on the loopback address,
// that the test can silence: from silence() on, nothing passes in either direction
// while every connection stays open, as when a cable is cut somewhere between a
// station and the server (on loopback the kernel still takes in what a station
// sends, so the station's own TCP sees nothing wrong); restore() then closes the
// connections that lived through the silence, and new ones pass again. The relay
// runs in a thread of its own, so that it forwards whatever the test is busy with.
// Its sockets are closed on exec, so that the stations the test starts hold none.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

class SilentProxy {
public:
    // Listens on 127.0.0.1 at a free port, for the server's port on 127.0.0.1.
    explicit SilentProxy(unsigned short serverPort) : m_serverPort(serverPort)
    {
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in at = loopback(0);
        socklen_t size = sizeof at;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
            ::listen(m_listener, 64) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&at), &size) != 0)
            return;
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { relay(); });
    }
    ~SilentProxy()
    {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_stop = true;
            wake();
        }
        if (m_thread.joinable())
            m_thread.join();
        restore();
        for (int fd : {m_listener, m_wake[0], m_wake[1]})
            if (fd >= 0)
                ::close(fd);
    }
    SilentProxy(const SilentProxy &) = delete;
    SilentProxy &operator=(const SilentProxy &) = delete;

    // The relay's port; 0 if it could not listen.
    unsigned short port() const { return m_port; }
    // From now on nothing passes, either way; the connections stay open.
    void silence()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_silent = true;
        ++m_generation;
        wake();
    }
    // Falls silent as soon as the next bytes a station sends have passed to the server:
    // the server acts on them, the station hears nothing. (What they hold cannot be told:
    // the stations talk TLS.)
    void silenceAfterNextFromStation()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_armed = true;
    }
    bool isSilent()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_silent;
    }
    // Closes every connection held, and lets new ones pass again; how many it closed.
    int restore()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        const int closed = int(m_links.size());
        for (Link &link : m_links)
            for (int fd : {link.station, link.upstream})
                if (fd >= 0)
                    ::close(fd);
        m_links.clear();
        ++m_generation;
        m_silent = false;
        m_armed = false;
        wake();
        return closed;
    }
    // The first bytes that passed, both ways, as a capture of the network would hold them.
    std::string heard()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_heard;
    }
    // Connections taken from stations so far.
    int accepted()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_accepted;
    }

private:
    struct Link {
        int station = -1, upstream = -1;
        bool connecting = true;          // the connection to the server is not yet made
        std::string toServer, toStation; // read from one side, not yet written to the other
        bool ended = false;
    };

    static sockaddr_in loopback(unsigned short port)
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return at;
    }
    void wake() const
    {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
    // Reads what one side has for the other; false once that side has closed or failed.
    bool gather(int from, std::string &into)
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(from, buffer, sizeof buffer);
            if (n > 0 && m_heard.size() < kHeardBytes)
                m_heard.append(buffer, std::min(size_t(n), kHeardBytes - m_heard.size()));
            if (n > 0)
                into.append(buffer, size_t(n));
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    // Writes what it can; false when the side has failed.
    static bool deliver(int to, std::string &pending)
    {
        while (!pending.empty()) {
            const ssize_t n = ::send(to, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (n > 0)
                pending.erase(0, size_t(n));
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        return true;
    }

    void relay()
    {
        std::vector<pollfd> watched;
        for (;;) {
            unsigned generation;
            {
                std::lock_guard<std::mutex> hold(m_mutex);
                if (m_stop)
                    return;
                generation = m_generation;
                watched.assign({{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}});
                // While silent, no side is read or written.
                for (const Link &link : m_links)
                    if (!m_silent && link.upstream >= 0) {
                        watched.push_back({link.station, short(POLLIN | (link.toStation.empty() ? 0 : POLLOUT)), 0});
                        watched.push_back(
                            {link.upstream,
                             short(link.connecting ? POLLOUT : POLLIN | (link.toServer.empty() ? 0 : POLLOUT)), 0});
                    }
            }
            // A second at most, so that a stop is seen even without a wake-up.
            if (::poll(watched.data(), watched.size(), 1000) < 0 && errno != EINTR)
                return;
            std::lock_guard<std::mutex> hold(m_mutex);
            for (char drained[256]; ::read(m_wake[0], drained, sizeof drained) > 0;) {
            }
            if (m_stop)
                return;
            if (watched[1].revents & POLLIN)
                takeNew();
            if (m_silent || generation != m_generation)
                continue;
            for (size_t k = 2, l = 0; k + 1 < watched.size() && !m_silent; k += 2, ++l) {
                while (m_links[l].upstream < 0)
                    ++l;
                Link &link = m_links[l];
                const short fromStation = watched[k].revents, fromServer = watched[k + 1].revents;
                if (link.connecting && fromServer) {
                    int error = 0;
                    socklen_t size = sizeof error;
                    ::getsockopt(link.upstream, SOL_SOCKET, SO_ERROR, &error, &size);
                    link.connecting = false;
                    link.ended = error != 0;
                }
                if (link.ended)
                    continue;
                const size_t pending = link.toServer.size();
                if (fromStation & (POLLIN | POLLHUP | POLLERR))
                    link.ended |= !gather(link.station, link.toServer);
                const bool marked = m_armed && link.toServer.size() > pending;
                if (!link.connecting && (fromServer & (POLLIN | POLLHUP | POLLERR)))
                    link.ended |= !gather(link.upstream, link.toStation);
                if (!link.connecting)
                    link.ended |= !deliver(link.upstream, link.toServer);
                link.ended |= !deliver(link.station, link.toStation);
                if (marked && !link.connecting) {
                    m_silent = true;
                    m_armed = false;
                    ++m_generation;
                }
            }
            if (m_silent)
                continue;
            // A connection one side closed is closed on the other, with what it had left to pass.
            for (size_t l = 0; l < m_links.size();) {
                Link &link = m_links[l];
                if (!link.ended) {
                    ++l;
                    continue;
                }
                if (!link.connecting)
                    deliver(link.upstream, link.toServer);
                deliver(link.station, link.toStation);
                ::close(link.station);
                ::close(link.upstream);
                m_links.erase(m_links.begin() + ptrdiff_t(l));
                ++m_generation;
            }
        }
    }
    // Accepts the connections waiting; while silent they are held, never reaching the server.
    void takeNew()
    {
        for (;;) {
            Link link;
            link.station = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (link.station < 0)
                return;
            ++m_accepted;
            ++m_generation;
            if (!m_silent) {
                link.upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                const sockaddr_in server = loopback(m_serverPort);
                if (link.upstream >= 0 &&
                    ::connect(link.upstream, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0 &&
                    errno != EINPROGRESS)
                    link.ended = true;
                if (link.upstream < 0) {
                    ::close(link.station);
                    continue;
                }
            }
            m_links.push_back(std::move(link));
        }
    }

    unsigned short m_serverPort, m_port = 0;
    int m_listener = -1, m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Link> m_links;
    unsigned m_generation = 0; // counts changes to m_links
    bool m_silent = false, m_stop = false;
    bool m_armed = false; // falls silent once a station's next bytes have passed
    static constexpr size_t kHeardBytes = 16 << 20;
    std::string m_heard; // the first bytes that passed
    int m_accepted = 0;
};
