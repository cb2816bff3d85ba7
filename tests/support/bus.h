// A private session bus for tests of the desktop services, and fake services on it: the
// notification service, the file-chooser portal and the file manager, each recording the
// calls it received.
#pragma once

#include "support.h"

#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

// dbus-daemon with a configuration of its own (so none of the machine's services can be
// started on it); DBUS_SESSION_BUS_ADDRESS points at it while the object lives.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    // Empty when the bus runs, else why it could not start (tests skip with it).
    const std::string& why() const { return m_why; }
    const std::string& address() const { return m_address; }

private:
    TempDir m_dir;
    pid_t m_pid = -1;
    std::string m_address, m_why;
};

class FakeDesktop {
public:
    struct Options {
        bool notifications = true;
        bool portal = true;
        bool file_manager = true;
        int response = 0;        // the portal's answer: 0 chosen, 1 cancelled, 2 failed
        std::string chosen_path; // the file the user "picked"
    };
    FakeDesktop(const std::string& address, Options options);
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    // "Notify <summary>|<body>", "SaveFile <suggested name>", "ShowItems <uri>".
    std::vector<std::string> calls() const;
    void record(std::string call);
    const Options& options() const { return m_opt; }

private:
    Options m_opt;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::thread m_thread;
    void* m_loop = nullptr;
};

// Runs the default main context until `done` holds or `ms` milliseconds passed.
bool pump_until(const std::function<bool()>& done, int ms = 3000);

} // namespace testsupport
