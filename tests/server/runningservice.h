// A name server on a free loopback port, serving on its own thread for the life of the object,
// with the small name list of the HTTP tests; its log lines go to a file the test can read.
#pragma once

#include "httpservice.h"
#include "operatorlog.h"
#include "support/httpclient.h"

#include <QByteArray>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace ridelog::nameserver {

inline const std::string kShinjukuBody = "a=12302%2c0%2c37%2c10%3a&p=ap&";

NameDirectory smallDirectory();
// The answer to kShinjukuBody, in code page 932.
QByteArray shinjukuAnswer();

class RunningService
{
public:
    explicit RunningService(ServiceOptions options = {});
    ~RunningService();
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    void stop();
    int port() const { return port_; }
    bool served() const { return served_; }
    // The log lines written so far.
    std::string logText() const;

    // One look-up of Shinjuku on a connection of its own; its answer body, or empty.
    QByteArray askShinjuku() const;

private:
    std::FILE* logFile_;
    OperatorLog log_;
    NameService service_;
    int port_ = -1;
    std::thread thread_;
    std::atomic<bool> served_ = false;
};

ServiceOptions loopbackOptions();

} // namespace ridelog::nameserver
