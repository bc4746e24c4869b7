#pragma once

// A relay on 127.0.0.1 between stations and the election server that the test can silence:
// from silence() on nothing passes either way while every connection stays open, as when a
// cable is cut between a station and the server (the kernel still takes in what a station
// sends); restore() closes the connections that lived through it, and new ones pass again.
// It runs in a thread of its own; its sockets are closed on exec, so stations hold none.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class SilentProxy {
public:
    // Listens at a free port, for the server's port.
    explicit SilentProxy(unsigned short serverPort) : m_serverPort(serverPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in at = loopback(0);
        socklen_t size = sizeof at;
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0 || m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || ::listen(m_listener, 64) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&at), &size) != 0)
            return;
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { relay(); });
    }
    ~SilentProxy()
    {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_stop = true, wake();
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
        m_silent = true, ++m_generation, wake();
    }
    // Falls silent as soon as the next bytes a station sends have passed to the server: the
    // server acts on them, the station hears nothing.
    void silenceAfterNextFromStation()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_armed = true;
    }
    bool isSilent() { return locked(&SilentProxy::m_silent); }
    // Closes every connection held, and lets new ones pass again; how many it closed.
    int restore()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        for (const Link &link : m_links)
            for (int fd : {link.station, link.upstream})
                if (fd >= 0)
                    ::close(fd);
        const int closed = int(std::exchange(m_links, {}).size());
        m_silent = m_armed = false, ++m_generation, wake();
        return closed;
    }
    // The first bytes that passed, both ways, as a capture of the network would hold them.
    std::string heard() { return locked(&SilentProxy::m_heard); }
    int accepted() { return locked(&SilentProxy::m_accepted); } // connections taken from stations so far

private:
    struct Link {
        int station = -1, upstream = -1; // upstream -1: taken while silent, held
        bool connecting = true;          // the connection to the server is not yet made
        bool ended = false;
        std::string toServer, toStation; // read from one side, not yet written to the other
    };

    template <typename T> T locked(T SilentProxy::*field)
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return this->*field;
    }
    static sockaddr_in loopback(unsigned short port)
    {
        sockaddr_in at{};
        at.sin_family = AF_INET, at.sin_port = htons(port), at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return at;
    }
    void wake() const { [[maybe_unused]] const ssize_t n = ::write(m_wake[1], "", 1); }
    // Reads what one side has (reading) or writes what it can (not): false once it has closed or failed.
    bool pass(int fd, std::string &data, bool reading)
    {
        char buffer[65536];
        while (reading || !data.empty()) {
            const ssize_t n =
                reading ? ::read(fd, buffer, sizeof buffer) : ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n > 0 && reading) {
                m_heard.append(buffer, std::min(size_t(n), kHeardBytes - std::min(kHeardBytes, m_heard.size())));
                data.append(buffer, size_t(n));
            } else if (n > 0) {
                data.erase(0, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
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
                for (const Link &link : m_links) // while silent, no side is read or written
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
                    link.connecting = false, link.ended = error != 0;
                }
                if (link.ended)
                    continue;
                const size_t pending = link.toServer.size();
                if (fromStation & (POLLIN | POLLHUP | POLLERR))
                    link.ended |= !pass(link.station, link.toServer, true);
                const bool marked = m_armed && link.toServer.size() > pending;
                if (!link.connecting && (fromServer & (POLLIN | POLLHUP | POLLERR)))
                    link.ended |= !pass(link.upstream, link.toStation, true);
                if (!link.connecting)
                    link.ended |= !pass(link.upstream, link.toServer, false);
                link.ended |= !pass(link.station, link.toStation, false);
                if (marked && !link.connecting)
                    m_silent = true, m_armed = false, ++m_generation;
            }
            if (m_silent)
                continue;
            // A connection one side closed is closed on the other, with what it had left to pass.
            for (Link &link : m_links)
                if (link.ended) {
                    if (!link.connecting)
                        pass(link.upstream, link.toServer, false);
                    pass(link.station, link.toStation, false);
                    ::close(link.station), ::close(link.upstream), ++m_generation;
                }
            m_links.erase(std::remove_if(m_links.begin(), m_links.end(), [](const Link &link) { return link.ended; }),
                          m_links.end());
        }
    }
    // Accepts the connections waiting; while silent they are held, never reaching the server.
    void takeNew()
    {
        for (Link link; (link.station = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;
             link = Link()) {
            ++m_accepted, ++m_generation;
            if (!m_silent) {
                link.upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                const sockaddr_in server = loopback(m_serverPort);
                if (link.upstream < 0) {
                    ::close(link.station);
                    continue;
                }
                link.ended =
                    ::connect(link.upstream, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0 &&
                    errno != EINPROGRESS;
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
