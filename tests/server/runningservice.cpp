#include "runningservice.h"

#include "namedata/cp932.h"

#include <unistd.h>

namespace ridelog::nameserver {

NameDirectory smallDirectory()
{
    NameDirectory names;
    names.addRail({0, 0x25, 0x0A}, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
                                    QStringLiteral("新宿")});
    names.addRail({0, 0x25, 0x07}, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
                                    QStringLiteral("渋谷")});
    names.addBus({0x14, 0xFB},
                 {QStringLiteral("広島電鉄"), QStringLiteral("大学病院南門"), QString()});
    return names;
}

QByteArray shinjukuAnswer()
{
    return QByteArray("12302,") + cp932::encode(QStringLiteral("東日本旅客鉄道,山手,新宿:"));
}

ServiceOptions loopbackOptions()
{
    ServiceOptions options;
    options.port = 0;
    options.databaseLabel = QStringLiteral("t");
    return options;
}

RunningService::RunningService(ServiceOptions options)
    : logFile_(std::tmpfile())
    , log_(logFile_)
    , service_(smallDirectory(), std::move(options), &log_)
{
    port_ = service_.bind();
    if (port_ > 0)
        thread_ = std::thread([this] { served_ = service_.serve(); });
}

RunningService::~RunningService()
{
    stop();
    std::fclose(logFile_);
}

void RunningService::stop()
{
    service_.stop();
    if (thread_.joinable())
        thread_.join();
}

std::string RunningService::logText() const
{
    // Read beside the writer, without moving its position.
    std::fflush(logFile_);
    std::string text;
    char chunk[4096];
    ssize_t read = 0;
    while ((read = ::pread(fileno(logFile_), chunk, sizeof chunk, off_t(text.size()))) > 0)
        text.append(chunk, std::size_t(read));
    return text;
}

QByteArray RunningService::askShinjuku() const
{
    const auto reply =
        testsupport::exchange(port_, testsupport::postRequest("/trfc/", kShinjukuBody));
    return reply && reply->status == 200 ? QByteArray::fromStdString(reply->body) : QByteArray();
}

} // namespace ridelog::nameserver
