// ridelog-nameserver: builds the name database from the public code tables and serves it.
#include "httpservice.h"
#include "namedata/namedatabase.h"
#include "namedata/tableimport.h"
#include "serveoptions.h"

#include <QFileInfo>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

using namespace ridelog::nameserver;

namespace {

constexpr int kUsageError = 2;

void printLine(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString usageText()
{
    const QString commands = QStringLiteral(
        "usage: ridelog-nameserver import --db FILE TABLE...\n"
        "       ridelog-nameserver serve --db FILE [--listen HOST:PORT] [OPTION...]\n"
        "       ridelog-nameserver --help | --version\n"
        "import builds FILE from station tables (area,line,station in hex, company,\n"
        "line, station[, note]) and the 15-column all-sheets table. It replaces FILE only\n"
        "when FILE is a names file that import made.\n"
        "serve answers POST /trfc/; it listens on 127.0.0.1:8780 unless told\n"
        "otherwise; port 0 picks a free port.\n");
    return commands + serveOptionsHelp();
}

int usage()
{
    printLine(stderr, usageText());
    return kUsageError;
}

struct CommandLine
{
    QString command;
    QString database;
    QString listen = QStringLiteral("127.0.0.1:8780");
    ServiceOptions serve;
    QStringList tables;
    bool valid = false;
};

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    if (arguments.isEmpty())
        return line;
    line.command = arguments[0];
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == u"--db" && hasValue) {
            line.database = arguments[++i];
        } else if (argument == u"--listen" && hasValue) {
            line.listen = arguments[++i];
        } else if (const OptionResult taken = takeServeOption(arguments, i, line.serve);
                   taken != OptionResult::NotAServeOption) {
            if (taken == OptionResult::Invalid)
                return line;
        } else if (argument.startsWith(u'-')) {
            return line;
        } else {
            line.tables.append(argument);
        }
    }
    line.valid = !line.database.isEmpty();
    return line;
}

int runImport(const CommandLine& line)
{
    if (line.tables.isEmpty())
        return usage();
    NameDirectory directory;
    bool allOpened = true;
    for (const QString& table : line.tables) {
        const ImportReport report = importTableFile(table, directory);
        printLine(stdout, report.summary());
        allOpened = allOpened && report.opened;
    }
    if (!allOpened) {
        printLine(stderr, QStringLiteral("import stopped: a table could not be read; %1 is "
                                         "left as it was")
                              .arg(line.database));
        return 1;
    }
    QString error;
    if (!writeNameDatabase(line.database, directory, line.tables, &error)) {
        printLine(stderr, QStringLiteral("cannot write %1: %2").arg(line.database, error));
        return 1;
    }
    printLine(stdout, QStringLiteral("%1: %2 stations, %3 bus stops, %4 shops")
                          .arg(line.database)
                          .arg(directory.railCount())
                          .arg(directory.busCount())
                          .arg(directory.shopCount()));
    return 0;
}

// SIGINT and SIGTERM are taken by one thread that stops the server; every other thread,
// the server's pool included, has them blocked.
sigset_t blockStopSignals()
{
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    return stopSet;
}

int runServe(const CommandLine& line)
{
    ServiceOptions options = line.serve;
    if (!parseListenAddress(line.listen, options.host, options.port))
        return usage();
    if (!allowOpenConnections(options.limits.maxConnections))
        printLine(stderr, QStringLiteral("warning: the limit of open files is below "
                                         "--max-connections %1")
                              .arg(options.limits.maxConnections));
    options.databaseLabel = QFileInfo(line.database).fileName();

    QString error;
    std::optional<NameDirectory> directory = readNameDatabase(line.database, &error);
    if (!directory) {
        printLine(stderr, error);
        return 1;
    }
    const std::size_t stations = directory->railCount();
    const std::size_t busStops = directory->busCount();
    const std::size_t shops = directory->shopCount();

    const sigset_t stopSignals = blockStopSignals();
    NameService service(std::move(*directory), options);
    const int port = service.bind();
    if (port < 0) {
        printLine(stderr, QStringLiteral("cannot listen on %1").arg(line.listen));
        return 1;
    }
    std::thread([&service, stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        service.stop();
    }).detach();

    const QString host = QString::fromStdString(options.host);
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    printLine(stdout, QStringLiteral("serving %1 stations, %2 bus stops, %3 shops on "
                                     "http://%4:%5/trfc/")
                          .arg(stations)
                          .arg(busStops)
                          .arg(shops)
                          .arg(shownHost)
                          .arg(port));
    return service.serve() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (arguments.size() == 1 && (arguments[0] == u"--help" || arguments[0] == u"-h")) {
        printLine(stdout, usageText());
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == u"--version") {
        printLine(stdout, QStringLiteral("ridelog-nameserver " RIDELOG_VERSION));
        return 0;
    }
    const CommandLine line = parseCommandLine(arguments);
    if (!line.valid)
        return usage();
    if (line.command == u"import")
        return runImport(line);
    if (line.command == u"serve")
        return runServe(line);
    return usage();
}
